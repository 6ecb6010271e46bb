#include "fake_drives.h"

#include "output.h"

#include <device_contracts.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace firmstep::test {
namespace {

FakeMachine* g_machine = nullptr;

void PutWord(std::uint8_t* data, std::size_t word, std::uint16_t value)
{
    data[2 * word] = static_cast<std::uint8_t>(value & 0xFF);
    data[2 * word + 1] = static_cast<std::uint8_t>(value >> 8);
}

void AnswerAta(const FakeDrive& drive, CvCommand& command)
{
    auto* data = static_cast<std::uint8_t*>(command.buffers[1]);
    std::memset(data, 0, command.bufferLengths[1]);
    PutIdentifyText(data + 20, 20, drive.serial, true);
    PutIdentifyText(data + 46, 8, drive.revision, true);
    PutIdentifyText(data + 54, 40, drive.model, true);
    PutWord(data, 60, static_cast<std::uint16_t>(drive.capacity28 & 0xFFFF));
    PutWord(data, 61, static_cast<std::uint16_t>(drive.capacity28 >> 16));
    PutWord(data, 83, drive.word83);
    for (std::size_t i = 0; i < 4; ++i) {
        PutWord(data, 100 + i, static_cast<std::uint16_t>(drive.capacity48 >> (16 * i)));
        PutWord(data, 108 + i, drive.wwn[i]);
    }
    PutWord(data, 234, 1);
    PutWord(data, 235, drive.maxDownloadBlocks);
    auto* block = static_cast<AtaCommandBlock*>(command.buffers[0]);
    block->outStatus = 0x50;
}

void AnswerScsi(const FakeDrive& drive, CvCommand& command)
{
    auto* block = static_cast<ScsiCommandBlock*>(command.buffers[0]);
    auto* data = static_cast<std::uint8_t*>(command.buffers[1]);
    std::memset(data, 0, command.bufferLengths[1]);
    const bool vpd = (block->cdb[1] & 1) != 0;
    if (!vpd) {
        PutIdentifyText(data + 8, 8, drive.vendor, false);
        PutIdentifyText(data + 16, 16, drive.product, false);
        PutIdentifyText(data + 32, 4, drive.revision, false);
    } else if (block->cdb[2] == 0x80) {
        PutIdentifyText(data + 4, 20, drive.serial, false);
    } else if (block->cdb[2] == 0x83) {
        data[40] = static_cast<std::uint8_t>(drive.wwn[0] >> 8);
        data[41] = static_cast<std::uint8_t>(drive.wwn[0] & 0xFF);
        data[42] = static_cast<std::uint8_t>(drive.wwn[1] >> 8);
        data[43] = static_cast<std::uint8_t>(drive.wwn[1] & 0xFF);
    }
    block->status = 0;
}

void AnswerNvme(const FakeDrive& drive, CvCommand& command)
{
    auto* block = static_cast<NvmeCommandBlock*>(command.buffers[0]);
    auto* data = static_cast<std::uint8_t*>(command.buffers[1]);
    std::memset(data, 0, command.bufferLengths[1]);
    if (block->submission.cdw10 == 1) {
        PutIdentifyText(data + 4, 20, drive.serial, false);
        PutIdentifyText(data + 24, 40, drive.model, false);
        PutIdentifyText(data + 64, 8, drive.revision, false);
        data[73] = static_cast<std::uint8_t>(drive.nvmeOui & 0xFF);
        data[74] = static_cast<std::uint8_t>((drive.nvmeOui >> 8) & 0xFF);
        data[75] = static_cast<std::uint8_t>((drive.nvmeOui >> 16) & 0xFF);
        data[256] = 0x04;  // firmware commands supported
        data[260] = 0x06;  // three slots
        data[319] = 0x02;
        data[516] = 1;
    } else {
        data[0] = 0x00;
        data[1] = 0x10;  // 4096 blocks
    }
    block->completion.statusField = drive.nvmeStatus;
}

const FakeService* FindService(CvUID resource, CvUID service)
{
    for (const FakeResource& r : g_machine->resources)
        if (r.uid == resource)
            for (const FakeService& s : r.services)
                if (s.uid == service)
                    return &s;
    return nullptr;
}

int GetResourceList(CvUID machine, CvUIDList* list, CvError* error)
{
    if (g_machine->failResourceList || machine != g_machine->uid)
        return CvSetError(error, CV_ERROR_NOT_FOUND, "No machine with UID %u", machine);
    list->count = static_cast<std::int32_t>(g_machine->resources.size());
    for (std::size_t i = 0; i < g_machine->resources.size(); ++i)
        list->uids[i] = g_machine->resources[i].uid;
    return CvSetNoError(error);
}

int GetServiceList(CvUID /*machine*/, CvUID resource, CvUIDList* list, CvError* error)
{
    if (resource == g_machine->failServiceListOf)
        return CvSetError(error, CV_ERROR_NOT_FOUND, "Resource %u went away", resource);
    for (const FakeResource& r : g_machine->resources) {
        if (r.uid != resource)
            continue;
        list->count = static_cast<std::int32_t>(r.services.size());
        for (std::size_t i = 0; i < r.services.size(); ++i)
            list->uids[i] = r.services[i].uid;
        return CvSetNoError(error);
    }
    return CvSetError(error, CV_ERROR_NOT_FOUND, "No resource %u", resource);
}

int GetServiceInfo(CvUID /*machine*/, CvUID resource, CvUID service, CvServiceInfo* info, CvError* error)
{
    const FakeService* s = FindService(resource, service);
    if (s == nullptr)
        return CvSetError(error, CV_ERROR_NOT_FOUND, "No service %u", service);
    std::memset(info, 0, sizeof *info);
    std::strncpy(info->type, s->type.c_str(), sizeof info->type - 1);
    return CvSetNoError(error);
}

int ExecuteCommand(CvUID /*machine*/, CvUID resource, CvUID service, CvCommand* command, CvError* error)
{
    ReceivedCommand record;
    record.resource = resource;
    record.service = service;
    record.command = *command;
    const auto* block = static_cast<const std::uint8_t*>(command->buffers[0]);
    record.block.assign(block, block + command->bufferLengths[0]);
    g_machine->received.push_back(record);

    const FakeService* s = FindService(resource, service);
    if (s == nullptr || !s->drive)
        return CvSetError(error, CV_ERROR_FAILED, "Device is unavailable");
    const FakeDrive& drive = *s->drive;
    if (drive.failIdentify)
        return CvSetError(error, CV_ERROR_FAILED, "Identify refused by %s", drive.serial.c_str());
    if (s->type.starts_with("ata/device"))
        AnswerAta(drive, *command);
    else if (s->type.starts_with("scsi/device"))
        AnswerScsi(drive, *command);
    else
        AnswerNvme(drive, *command);
    return CvSetNoError(error);
}

void NoSleep(std::uint32_t) {}

constexpr FrameworkCalls kFakeCalls = {GetResourceList, GetServiceList, GetServiceInfo, ExecuteCommand, NoSleep};

}  // namespace

void PutIdentifyText(std::uint8_t* out, std::size_t width, const std::string& text, bool swapPairs)
{
    for (std::size_t i = 0; i < width; ++i) {
        const char c = i < text.size() ? text[i] : ' ';
        out[swapPairs ? (i ^ 1u) : i] = static_cast<std::uint8_t>(c);
    }
}

FakeFramework::FakeFramework(FakeMachine& machine) : scope_(kFakeCalls)
{
    if (g_machine != nullptr)
        throw std::logic_error("one fake framework at a time");
    g_machine = &machine;
}

FakeFramework::~FakeFramework()
{
    g_machine = nullptr;
}

OutputCapture::OutputCapture()
{
    if (IsLogFileOpen())
        throw std::logic_error("a log file is already open");
    open_ = OpenLogFile((dir_.path() / "output.txt").c_str());
}

OutputCapture::~OutputCapture()
{
    if (open_)
        CloseLogFile();
}

std::string OutputCapture::Text()
{
    ToolFlush();
    return ReadFile(dir_.path() / "output.txt");
}

}  // namespace firmstep::test

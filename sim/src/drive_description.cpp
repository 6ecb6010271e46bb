// Parsing drive descriptions: every key is known, every value checked, and a
// refusal names the key and the problem.
#include "simdrive/drive_description.h"

#include <array>
#include <functional>
#include <set>

#include <cvcrt.h>

#include "simdrive/text_fields.h"
#include "string_map_ptr.h"

namespace simdrive {

namespace {

constexpr unsigned kAta = 1u << 0;
constexpr unsigned kScsi = 1u << 1;
constexpr unsigned kNvme = 1u << 2;
constexpr unsigned kAll = kAta | kScsi | kNvme;

constexpr uint64_t kMaxAta48Capacity = 0xFFFFFFFFFFFFull;
constexpr uint64_t kMaxAta28Capacity = 0x0FFFFFFFull;

unsigned kindBit(DriveKind kind) {
    switch (kind) {
    case DriveKind::Ata: return kAta;
    case DriveKind::Scsi: return kScsi;
    case DriveKind::Nvme: return kNvme;
    }
    return 0;
}

// Returns the problem with the value, or an empty text when it was taken.
using Setter = std::function<std::string(std::string_view value, DriveDescription& drive)>;

struct KeyRule {
    const char* key;
    unsigned kinds;
    Setter set;
};

std::string setText(std::string_view value, std::string& field, std::size_t capacity, bool blanksAllowed) {
    if (value.empty()) return "must not be empty";
    if (value.size() > capacity) return "longer than " + std::to_string(capacity) + " characters";
    for (char c : value) {
        bool printable = c >= ' ' && c <= '~';
        if (!printable || c == '#' || c == '=' || c == ';') return "contains a character that is not allowed";
        if (c == ' ' && !blanksAllowed) return "must not contain blanks";
    }
    field.assign(value);
    return {};
}

template <typename T>
Setter number(T DriveDescription::*field, uint64_t min, uint64_t max) {
    return [field, min, max](std::string_view value, DriveDescription& drive) -> std::string {
        auto parsed = parseUnsigned(value, UINT64_MAX);
        if (!parsed) return "not a number: '" + std::string(value) + "'";
        if (*parsed < min || *parsed > max) {
            return "out of range: " + std::string(value) + " (allowed " + std::to_string(min) + " to " +
                   std::to_string(max) + ")";
        }
        drive.*field = static_cast<T>(*parsed);
        return {};
    };
}

// The record a key's field lives in: the description itself or its fault plan.
DriveDescription& ownerOf(DriveDescription& drive, DriveDescription*) { return drive; }
FaultPlan& ownerOf(DriveDescription& drive, FaultPlan*) { return drive.faults; }

template <typename Owner>
Setter toggle(bool Owner::*field) {
    return [field](std::string_view value, DriveDescription& drive) -> std::string {
        auto parsed = parseSwitch(value);
        if (!parsed) return "not yes or no: '" + std::string(value) + "'";
        ownerOf(drive, static_cast<Owner*>(nullptr)).*field = *parsed;
        return {};
    };
}

template <typename T>
Setter faultNumber(T FaultPlan::*field, uint64_t max) {
    return [field, max](std::string_view value, DriveDescription& drive) -> std::string {
        auto parsed = parseUnsigned(value, UINT64_MAX);
        if (!parsed) return "not a number: '" + std::string(value) + "'";
        if (*parsed > max) return "out of range: " + std::string(value) + " (at most " + std::to_string(max) + ")";
        drive.faults.*field = static_cast<T>(*parsed);
        return {};
    };
}

Setter textField(std::string DriveDescription::*field, std::size_t capacity, bool blanksAllowed) {
    return [=](std::string_view value, DriveDescription& drive) {
        return setText(value, drive.*field, capacity, blanksAllowed);
    };
}

std::string setRevision(std::string_view value, DriveDescription& drive) {
    return setText(value, drive.revision, drive.revisionCapacity(), false);
}

std::string setWwn(std::string_view value, DriveDescription& drive) {
    auto parsed = parseUnsigned(value, UINT64_MAX);
    if (!parsed) return "not a number: '" + std::string(value) + "'";
    if (*parsed >> 60 != 5) return "not an NAA-5 name (16 hex digits starting with 5)";
    drive.wwn = *parsed;
    return {};
}

std::string setOui(std::string_view value, DriveDescription& drive) {
    auto parsed = parseUnsigned(value, UINT64_MAX);
    if (!parsed) return "not a number: '" + std::string(value) + "'";
    if (*parsed > 0xFFFFFF) return "wider than 24 bits";
    drive.oui = static_cast<uint32_t>(*parsed);
    return {};
}

std::string setActivationReset(std::string_view value, DriveDescription& drive) {
    static constexpr std::pair<std::string_view, uint8_t> kResets[] = {
        {"conventional", nvme::kScActivationRequiresConventionalReset},
        {"subsystem", nvme::kScActivationRequiresSubsystemReset},
        {"controller", nvme::kScActivationRequiresControllerReset},
    };
    std::string lower = toLower(value);
    for (auto [name, status] : kResets) {
        if (lower == name) {
            drive.activationResetStatus = status;
            return {};
        }
    }
    return "not conventional, subsystem or controller: '" + std::string(value) + "'";
}

const std::array<KeyRule, 29>& keyRules() {
    static const std::array<KeyRule, 29> rules = {{
        {"model", kAta | kNvme, textField(&DriveDescription::model, 40, true)},
        {"vendor", kScsi, textField(&DriveDescription::vendor, 8, true)},
        {"product", kScsi, textField(&DriveDescription::product, 16, true)},
        {"serial", kAll, textField(&DriveDescription::serial, 20, false)},
        {"revision", kAll, setRevision},
        {"wwn", kAta | kScsi, setWwn},
        {"oui", kAll, setOui},
        {"capacity_blocks", kAll, number(&DriveDescription::capacityBlocks, 1, kMaxAta48Capacity)},
        {"lba48", kAta, toggle(&DriveDescription::lba48)},
        {"min_download_blocks", kAta, number(&DriveDescription::minDownloadBlocks, 0, 0xFFFF)},
        {"max_download_blocks", kAta | kScsi, number(&DriveDescription::maxDownloadBlocks, 0, 0xFFFF)},
        {"dma", kAta, toggle(&DriveDescription::dma)},
        {"deferred_download", kAta | kScsi, toggle(&DriveDescription::deferredDownload)},
        {"firmware_update", kNvme, toggle(&DriveDescription::firmwareUpdate)},
        {"firmware_slots", kNvme, number(&DriveDescription::firmwareSlots, 1, 7)},
        {"slot1_read_only", kNvme, toggle(&DriveDescription::slot1ReadOnly)},
        {"activate_without_reset", kNvme, toggle(&DriveDescription::activateWithoutReset)},
        {"activation_reset", kNvme, setActivationReset},
        {"fwug", kNvme, number(&DriveDescription::fwug, 0, 0xFF)},
        {"namespaces", kNvme, number(&DriveDescription::namespaces, 1, 1024)},
        {"fault.fail_segment", kAll, faultNumber(&FaultPlan::failSegment, UINT32_MAX)},
        {"fault.fail_segment_always", kAll, toggle(&FaultPlan::failSegmentAlways)},
        {"fault.fail_download_attempts", kAll, faultNumber(&FaultPlan::failDownloadAttempts, UINT32_MAX)},
        {"fault.fail_activate_attempts", kAll, faultNumber(&FaultPlan::failActivateAttempts, UINT32_MAX)},
        {"fault.refuse_dma", kAta, toggle(&FaultPlan::refuseDma)},
        {"fault.delay_ms", kAll, faultNumber(&FaultPlan::delayMs, 600000)},
        {"fault.gone", kAll, toggle(&FaultPlan::gone)},
        {"fault.unit_attention_to_sender", kScsi, toggle(&FaultPlan::unitAttentionToSender)},
        {"kind", kAll, [](std::string_view, DriveDescription&) { return std::string(); }},
    }};
    return rules;
}

const KeyRule* findRule(const std::string& lowerKey) {
    for (const auto& rule : keyRules()) {
        if (lowerKey == rule.key) return &rule;
    }
    return nullptr;
}

bool fail(DescriptionError& error, std::string key, std::string problem) {
    error.key = std::move(key);
    error.problem = std::move(problem);
    return false;
}

std::string kindsText(unsigned kinds) {
    std::string text;
    for (auto [bit, name] : {std::pair{kAta, "ata"}, std::pair{kScsi, "scsi"}, std::pair{kNvme, "nvme"}}) {
        if (kinds & bit) text += text.empty() ? name : std::string(" and ") + name;
    }
    return text;
}

// Checks that concern several keys at once.
bool finish(DriveDescription& drive, const std::set<std::string>& given, DescriptionError& error) {
    std::vector<const char*> required = {"serial", "revision"};
    if (drive.kind == DriveKind::Scsi) {
        required.insert(required.begin(), {"vendor", "product"});
    } else {
        required.insert(required.begin(), "model");
    }
    for (const char* key : required) {
        if (!given.count(key)) return fail(error, key, "missing");
    }
    if (drive.kind != DriveKind::Nvme) {
        bool hasWwn = given.count("wwn") != 0;
        bool hasOui = given.count("oui") != 0;
        uint32_t ouiInWwn = static_cast<uint32_t>(drive.wwn >> 36 & 0xFFFFFF);
        if (hasWwn && hasOui && ouiInWwn != drive.oui) return fail(error, "oui", "does not match the OUI inside wwn");
        if (hasWwn) {
            drive.oui = ouiInWwn;
        } else if (hasOui) {
            drive.wwn = 5ull << 60 | static_cast<uint64_t>(drive.oui) << 36 | (hashText(drive.serial) & 0xFFFFFFFFFull);
        }
    }
    if (drive.kind == DriveKind::Ata) {
        if (!drive.lba48 && drive.capacityBlocks > kMaxAta28Capacity) {
            return fail(error, "capacity_blocks", "needs lba48 above " + std::to_string(kMaxAta28Capacity) + " blocks");
        }
        if (drive.maxDownloadBlocks != 0 && drive.minDownloadBlocks > drive.maxDownloadBlocks) {
            return fail(error, "min_download_blocks", "larger than max_download_blocks");
        }
    }
    if (drive.kind == DriveKind::Scsi && !given.count("max_download_blocks")) drive.maxDownloadBlocks = 0;
    return true;
}

}  // namespace

std::string DriveDescription::displayModel() const {
    if (kind != DriveKind::Scsi) return model;
    return std::string(trimBlanks(vendor)) + " " + std::string(trimBlanks(product));
}

std::size_t DriveDescription::revisionCapacity() const {
    return kind == DriveKind::Scsi ? 4 : 8;
}

std::string DescriptionError::message() const {
    return "key '" + key + "': " + problem;
}

bool parseDriveDescription(const StringMap* map, DriveDescription& drive, DescriptionError& error) {
    if (map == nullptr) return fail(error, "kind", "missing");
    DriveDescription parsed;
    const char* kindText = StringMap_GetValue(map, "kind");
    if (kindText == nullptr) return fail(error, "kind", "missing");
    std::string kind = toLower(trimBlanks(kindText));
    if (kind == "ata") {
        parsed.kind = DriveKind::Ata;
    } else if (kind == "scsi") {
        parsed.kind = DriveKind::Scsi;
    } else if (kind == "nvme") {
        parsed.kind = DriveKind::Nvme;
    } else {
        return fail(error, "kind", "not ata, scsi or nvme: '" + std::string(kindText) + "'");
    }
    std::set<std::string> given;
    for (int32_t i = 0; i < StringMap_GetSize(map); ++i) {
        std::string key = toLower(trimBlanks(StringMap_GetEntryKey(map, i)));
        std::string_view value = trimBlanks(StringMap_GetEntryValue(map, i));
        const KeyRule* rule = findRule(key);
        if (rule == nullptr) return fail(error, key, "unknown key");
        if (!(rule->kinds & kindBit(parsed.kind))) {
            return fail(error, key, "only for " + kindsText(rule->kinds) + " drives");
        }
        if (std::string problem = rule->set(value, parsed); !problem.empty()) return fail(error, key, problem);
        given.insert(key);
    }
    if (!finish(parsed, given, error)) return false;
    drive = std::move(parsed);
    return true;
}

bool parseDriveDescriptionText(std::string_view text, DriveDescription& drive, DescriptionError& error) {
    StringMapPtr map(StringMap_Create());
    if (!map) return fail(error, "kind", "out of memory");
    bool ok = true;
    while (ok && !text.empty()) {
        std::size_t end = text.find_first_of(";\n");
        std::string_view piece = trimBlanks(text.substr(0, end));
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (piece.empty() || piece.front() == '#') continue;
        std::size_t equals = piece.find('=');
        if (equals == std::string_view::npos) {
            ok = fail(error, std::string(piece), "expected key=value");
            break;
        }
        std::string key(trimBlanks(piece.substr(0, equals)));
        std::string value(trimBlanks(piece.substr(equals + 1)));
        if (key.empty()) {
            ok = fail(error, std::string(piece), "expected key=value");
        } else if (StringMap_ContainsKey(map.get(), key.c_str())) {
            ok = fail(error, toLower(key), "given more than once");
        } else {
            StringMap_SetValue(map.get(), key.c_str(), value.c_str());
        }
    }
    return ok && parseDriveDescription(map.get(), drive, error);
}

}  // namespace simdrive

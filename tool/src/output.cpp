#include "output.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>

namespace firmstep {
namespace {

// The framework may call the log listener from its own threads, so the log file
// pointer and the pairing of console and log writes are kept under one lock.
std::mutex g_outputLock;
std::FILE* g_logFile = nullptr;

}  // namespace

void ToolPrint(const char* format, ...)
{
    std::va_list args;
    va_start(args, format);
    std::va_list copy;
    va_copy(copy, args);
    {
        std::lock_guard lock(g_outputLock);
        std::vfprintf(stdout, format, args);
        if (g_logFile != nullptr)
            std::vfprintf(g_logFile, format, copy);
    }
    va_end(copy);
    va_end(args);
}

void ToolLogPrint(const char* format, ...)
{
    std::lock_guard lock(g_outputLock);
    if (g_logFile == nullptr)
        return;
    std::va_list args;
    va_start(args, format);
    std::vfprintf(g_logFile, format, args);
    va_end(args);
}

void ToolFlush()
{
    std::lock_guard lock(g_outputLock);
    std::fflush(stdout);
    if (g_logFile != nullptr)
        std::fflush(g_logFile);
}

bool OpenLogFile(const char* path)
{
    std::lock_guard lock(g_outputLock);
    if (g_logFile == nullptr && path != nullptr)
        g_logFile = std::fopen(path, "a");
    return g_logFile != nullptr;
}

bool IsLogFileOpen()
{
    std::lock_guard lock(g_outputLock);
    return g_logFile != nullptr;
}

void CloseLogFile()
{
    std::lock_guard lock(g_outputLock);
    if (g_logFile != nullptr) {
        std::fclose(g_logFile);
        g_logFile = nullptr;
    }
}

}  // namespace firmstep

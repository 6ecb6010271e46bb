// Error records: the caller's record is the only error state there is.
#include <corvane.h>

#include <cstdarg>
#include <cstdio>

namespace {

CV_PRINTF(3, 0) int SetErrorV(CvError* error, int code, const char* format, va_list arguments)
{
    if (error == nullptr) return 0;
    error->code = static_cast<int8_t>(static_cast<uint8_t>(code & 0xFF));
    if (format == nullptr) {
        error->message[0] = '\0';
    } else {
        std::vsnprintf(error->message, sizeof error->message, format, arguments);
    }
    error->message[sizeof error->message - 1] = '\0';
    return 0;
}

const char* CodeText(int8_t code)
{
    switch (code) {
    case CV_ERROR_NONE: return "No error";
    case CV_ERROR_INTERNAL: return "Internal error";
    case CV_ERROR_FAILED: return "Operation failed";
    case CV_ERROR_NOT_SUPPORTED: return "Not supported";
    case CV_ERROR_INVALID_INPUT: return "Invalid input";
    case CV_ERROR_NOT_FOUND: return "Entity not found";
    default: return "Unknown error code";
    }
}

}  // namespace

int CvSetError(CvError* error, int code, const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    SetErrorV(error, code, format, arguments);
    va_end(arguments);
    return 0;
}

int CvSetThreadError(CvError* error, int code, const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    SetErrorV(error, code, format, arguments);
    va_end(arguments);
    return 0;
}

int CvSetNoError(CvError* error)
{
    if (error != nullptr) {
        error->code = CV_ERROR_NONE;
        error->message[0] = '\0';
    }
    return 1;
}

int CvSetNoThreadError(CvError* error) { return CvSetNoError(error); }

void CvLogThreadError(int level, const CvError* error)
{
    if (error == nullptr) return;
    // Records filled by hand may lack the terminator.
    CvLog(level, "%s: %.*s", CodeText(error->code), static_cast<int>(sizeof error->message), error->message);
}

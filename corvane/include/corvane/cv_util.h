/* Text helpers: machine URLs, splitting text into lists and maps, and the INI
 * parser. Every string they create is allocated with CvAlloc. */
#ifndef CORVANE_CV_UTIL_H
#define CORVANE_CV_UTIL_H

#include "cv_core.h"

/* A machine URL is "protocol://host" or "protocol://host/resource". Each function
 * empties the output first (when outputSize > 0) and copies at most
 * outputSize - 1 characters. */

/* 1 when the URL has a colon; the output receives the text before it. */
CV_API int CvUtil_URLExtractProtocol(const char* url, char* output, int outputSize);
/* 1 when "//" follows the colon; the host runs to the next '/' (may be empty). */
CV_API int CvUtil_URLExtractHost(const char* url, char* output, int outputSize);
/* 1 when a '/' follows the host; the resource is the rest (may be empty). */
CV_API int CvUtil_URLExtractResource(const char* url, char* output, int outputSize);

/* Appends every non-empty piece between separators (untrimmed) as a new string. */
CV_API void CvUtil_SplitStringIntoList(const char* text, char separator, ArrayList* list);
/* Tokens separated by blank, tab and line feed; "double quotes" keep blanks. */
CV_API void CvUtil_SplitStringIntoListUsingWhitespaceAndQuotes(const char* text, ArrayList* list);
/* Adds key (before the first separator) and value (after it) with StringMap_AddValue.
 * Text without the separator is added as a key with an empty value. */
CV_API void CvUtil_SplitStringIntoPair(const char* text, char separator, StringMap* map);
CV_API void CvUtil_SplitStringIntoPairs(const char* text, char pairSeparator, char keyValueSeparator,
                                        StringMap* map);
/* Frees every element with CvFree, then the list. Null is ignored. */
CV_API void CvUtil_DestroyListAndData(ArrayList* list);

/* Reads an INI file into section names (strings from CvAlloc) and, at the same
 * index, each section's StringMap. On failure (code 2, message names the line)
 * both lists are left empty. */
CV_API int CvUtil_ParseINI(const char* path, ArrayList* sectionNames, ArrayList* sectionMaps, CvError* error);

#endif /* CORVANE_CV_UTIL_H */

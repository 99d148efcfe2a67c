#pragma once
// <windows.h> for our Windows files. The A/W macros CopyFile, MoveFile, ReplaceFile and
// SetFileAttributes/GetFileAttributes would rename our runtime functions, so
// they are undone here; call the W functions by their full names.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#undef CopyFile
#undef MoveFile
#undef SetFileAttributes
#undef GetFileAttributes
#undef FindText
#undef ReplaceText
#undef ReplaceFile

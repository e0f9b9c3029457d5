#pragma once
// Which module paths may be judged and then loaded: the file judged must be the file the loader opens.
//
// An exact module path is absolute (from a drive root or a share) and its file name (the text after the last "\" or
// "/") holds a dot. The loader appends ".dll" to a file name without one, so "C:\d\svc" would be judged while
// "C:\d\svc.dll" is loaded: such a name is refused, never completed. A name ending in a dot keeps its dot for the
// loader, which then appends nothing, and both the loader and the judgement open it as the same file.
#include <string>

bool IsExactModulePath(const std::wstring& path);

// True when the file name of the path (or the bare name) holds a dot.
bool HasFileExtension(const std::wstring& path);

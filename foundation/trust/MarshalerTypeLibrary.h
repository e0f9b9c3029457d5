#pragma once
// What the platform's type-library marshaler reads to marshal an interface: the interface's description in the type
// library that its "Interface\{IID}\TypeLib" entry registers (the library's id, and its "Version" as "major.minor"
// in hexadecimal), and from that description the interface it derives from.
//
// The entry is resolved both ways a marshaler may resolve it, and every file either way names is read: the registered
// path the type-library lookup chooses for that library and version (QueryPathOfRegTypeLib, language neutral), and the
// path registered under exactly that version text, language 0, "win64" or else "win32". A file is read as data
// (LoadTypeLibEx, nothing registered, no code run). A dispatch interface stands for its dual interface, or, without
// one, for IDispatch.
//
// ReadMarshalerBaseInterfaces: S_OK with the interface each file's description derives from in `bases` (each once),
// or a failure: no entry, an entry whose library or version cannot be read, no file either way, a file that cannot be
// read, no description of the interface in it, a description that is no interface or derives from none.
#include <windows.h>

#include <vector>

HRESULT ReadMarshalerBaseInterfaces(REFIID iid, std::vector<IID>& bases);

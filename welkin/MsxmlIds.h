#pragma once
// MinGW has no MSXML import library: the document classes and the interfaces that welkin asks for, named here.
#include <windows.h>

// MSXML 6.0 DOMDocument, then the version-independent DOMDocument.
inline constexpr wchar_t kDomDocument60Text[] = L"{88d96a05-f192-11d4-a65f-0040963251e5}";
inline constexpr wchar_t kDomDocumentText[] = L"{f6d90f11-9c73-11d3-b32e-00c04f990bb4}";
inline constexpr GUID kIidXmlDomDocument = {0x2933bf81, 0x7b36, 0x11d2, {0xb2, 0x0e, 0x00, 0xc0, 0x4f, 0x98, 0x3e, 0x60}};
inline constexpr GUID kIidXmlDomDocument2 = {0x2933bf95, 0x7b36, 0x11d2, {0xb2, 0x0e, 0x00, 0xc0, 0x4f, 0x98, 0x3e, 0x60}};
inline constexpr GUID kIidXmlDomElement = {0x2933bf86, 0x7b36, 0x11d2, {0xb2, 0x0e, 0x00, 0xc0, 0x4f, 0x98, 0x3e, 0x60}};

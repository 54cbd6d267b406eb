// Documents that frames and device DTMs must not be able to hurt the DTM
// with.
#pragma once

#include <string>

namespace testsupport {

// The document with a document type declaration in front of its root that
// declares a 48 KiB internal entity, and with every "{BOMB}" in it (an
// attribute value or element text) replaced by 4000 references to that
// entity: a parser that expanded them would build 192 MiB of text.
std::wstring WithEntityBomb(const std::wstring& document);

}  // namespace testsupport

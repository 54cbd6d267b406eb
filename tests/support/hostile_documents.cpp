#include "hostile_documents.h"

namespace testsupport {

std::wstring WithEntityBomb(const std::wstring& document) {
  constexpr size_t kEntityChars = 48 * 1024;
  constexpr int kReferences = 4000;
  std::wstring references;
  for (int i = 0; i < kReferences; ++i) references += L"&big;";
  std::wstring body = document;
  for (size_t at = body.find(L"{BOMB}"); at != std::wstring::npos; at = body.find(L"{BOMB}", at + references.size()))
    body.replace(at, 6, references);
  // In front of the root: after the XML declaration, when there is one.
  size_t root = 0;
  if (body.compare(0, 5, L"<?xml") == 0) root = body.find(L"?>") + 2;
  const size_t nameEnd = body.find_first_of(L" />", root + 1);
  const std::wstring rootName = body.substr(root + 1, nameEnd - root - 1);
  const std::wstring declaration = L"<!DOCTYPE " + rootName + L" [<!ENTITY big \"" +
                                   std::wstring(kEntityChars, L'A') + L"\">]>";
  body.insert(root, declaration);
  return body;
}

}  // namespace testsupport

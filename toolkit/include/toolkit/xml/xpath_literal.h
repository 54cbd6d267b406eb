// Texts that enter an XPath query as values, never as query syntax.
#pragma once

#include <windows.h>
#include <oleauto.h>

// An XPath literal of the text (a null text is empty): in double quotes, or
// in single quotes when the text holds a double quote. False, with *literal
// null, when the text holds both kinds of quote (XPath 1.0 has no escape in
// a literal), when literal is null or when memory runs out.
bool QuotedXPathLiteral(const wchar_t* text, BSTR* literal);

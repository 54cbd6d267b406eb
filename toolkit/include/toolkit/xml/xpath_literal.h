// Texts that enter an XPath query as values, never as query syntax.
#pragma once

#include <windows.h>
#include <oleauto.h>

// A double-quoted XPath literal of the text (a null text is empty); false,
// with *literal null, when the text holds a double quote (XPath 1.0 has no
// escape for it), when literal is null or when memory runs out.
bool QuotedXPathLiteral(const wchar_t* text, BSTR* literal);

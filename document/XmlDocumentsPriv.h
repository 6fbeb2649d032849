// Helpers shared by the parts of the XML model: stream reading and writing, blanks and
// quotes of the tokeniser, and the date texts.
#pragma once

#include <string>
#include <string_view>

#include "document/XmlDocuments.h"

namespace document::xmlpriv {

inline bool IsXmlSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
inline bool IsQuote(char c) { return c == '"' || c == '\''; }

// Streams move at most 2^31 - 1 bytes per call.
void WriteAll(platform::TStream* Stream, std::string_view Text);
// Everything from the stream's position to its end: a view into the adapter's own text, or
// a copy held in Owned.
std::string_view ReadRest(platform::TStream* Stream, std::string& Owned);

// The first, plain tokeniser, kept to check the fast one against: reads a whole document as
// ReadFromString does, or one node from Text (Consumed: the characters read, also on error).
void ReferenceReadDocument(TXmlDocument* Document, std::string_view Text);
void ReferenceReadNode(TXmlNode* Node, std::string_view Text, size_t& Consumed);

// "yyyy-mm-dd" or "yyyy-mm-ddThh:nn:ss.zzzZ" by fixed character positions.
bool ParseDateTime(std::string_view Text, TDateTime& Result);
std::string FormatDateTime(TDateTime Value);

}  // namespace document::xmlpriv

// Text helpers of the XML form of messages: escaping, base64, UTF-16 to
// UTF-8, and strict, locale-independent number formatting and parsing.
//
// Parsing is strict on purpose: the whole text must be the number (no blanks,
// no '+', no trailing characters), and a value the target type cannot hold
// is refused rather than clamped.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>

class CMsgText {
 public:
  // True when text is valid UTF-8 made only of characters XML 1.0 allows, so
  // it can travel as escaped element content.
  static bool IsXmlSafe(const std::string& text);
  // Appends text as element content: & < > " ' escaped, carriage returns as
  // character references (so they survive line-end normalisation) and, when
  // asked, every non-ASCII character as a character reference. text must
  // pass IsXmlSafe.
  static void AppendEscaped(std::string& out, const std::string& text, bool escapeNonAscii);

  static void AppendBase64(std::string& out, const std::string& bytes);
  // False on any character outside the alphabet or a malformed length or
  // padding.
  static bool DecodeBase64(const std::string& text, std::string& bytes);

  // Appends UTF-16 text as UTF-8; an unpaired surrogate becomes U+FFFD.
  static void AppendUtf8(std::string& out, const char16_t* text, size_t length);

  static void AppendInt(std::string& out, int64_t value);
  static void AppendUInt(std::string& out, uint64_t value);
  // Shortest text that reads back to the same value; "inf", "-inf", "nan".
  static void AppendDouble(std::string& out, double value);
  static void AppendFloat(std::string& out, float value);

  static bool ParseInt(const std::string& text, int64_t& value);
  static bool ParseUInt(const std::string& text, uint64_t& value);
  static bool ParseDouble(const std::string& text, double& value);
  // Refuses finite text beyond the float range.
  static bool ParseFloat(const std::string& text, float& value);
  // "1", "0", "true", "false".
  static bool ParseBool(const std::string& text, bool& value);
};

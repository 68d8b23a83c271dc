#include "msg/MsgText.h"

#include <charconv>
#include <cmath>
#include <system_error>

namespace {

const char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int Base64Value(unsigned char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

bool XmlAllows(uint32_t cp) {
  return cp == 0x9 || cp == 0xA || cp == 0xD || (cp >= 0x20 && cp <= 0xD7FF) || (cp >= 0xE000 && cp <= 0xFFFD) ||
         (cp >= 0x10000 && cp <= 0x10FFFF);
}

// Decodes one UTF-8 sequence at text[i]; false when it is malformed
// (overlong forms, surrogates and values past U+10FFFF included).
bool NextCodePoint(const std::string& text, size_t& i, uint32_t& cp) {
  const unsigned char c = static_cast<unsigned char>(text[i]);
  size_t extra;
  uint32_t min;
  if (c < 0x80) {
    cp = c;
    ++i;
    return true;
  } else if ((c & 0xE0) == 0xC0) {
    extra = 1, min = 0x80, cp = c & 0x1F;
  } else if ((c & 0xF0) == 0xE0) {
    extra = 2, min = 0x800, cp = c & 0x0F;
  } else if ((c & 0xF8) == 0xF0) {
    extra = 3, min = 0x10000, cp = c & 0x07;
  } else {
    return false;
  }
  if (i + extra >= text.size()) return false;
  for (size_t k = 1; k <= extra; ++k) {
    const unsigned char cc = static_cast<unsigned char>(text[i + k]);
    if ((cc & 0xC0) != 0x80) return false;
    cp = (cp << 6) | (cc & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
  i += extra + 1;
  return true;
}

void AppendCodePointUtf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

template <class T>
bool ParseWhole(const std::string& text, T& value) {
  if (text.empty()) return false;
  const char* end = text.data() + text.size();
  auto r = std::from_chars(text.data(), end, value);
  return r.ec == std::errc() && r.ptr == end;
}

template <class T>
void AppendChars(std::string& out, T value) {
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof(buf), value);
  out.append(buf, r.ptr);
}

}  // namespace

bool CMsgText::IsXmlSafe(const std::string& text) {
  size_t i = 0;
  while (i < text.size()) {
    if (static_cast<unsigned char>(text[i]) < 0x80) {
      if (!XmlAllows(static_cast<unsigned char>(text[i]))) return false;
      ++i;
      continue;
    }
    uint32_t cp;
    if (!NextCodePoint(text, i, cp) || !XmlAllows(cp)) return false;
  }
  return true;
}

void CMsgText::AppendEscaped(std::string& out, const std::string& text, bool escapeNonAscii) {
  size_t i = 0;
  while (i < text.size()) {
    const char c = text[i];
    if (static_cast<unsigned char>(c) >= 0x80) {
      size_t start = i;
      uint32_t cp = 0xFFFD;
      if (!NextCodePoint(text, i, cp)) ++i;  // not expected: callers check IsXmlSafe
      if (escapeNonAscii) {
        out += "&#x";
        char buf[16];
        auto r = std::to_chars(buf, buf + sizeof(buf), cp, 16);
        out.append(buf, r.ptr);
        out += ';';
      } else {
        out.append(text, start, i - start);
      }
      continue;
    }
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&apos;"; break;
      case '\r': out += "&#13;"; break;
      default: out += c; break;
    }
    ++i;
  }
}

void CMsgText::AppendBase64(std::string& out, const std::string& bytes) {
  size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    uint32_t v = (static_cast<unsigned char>(bytes[i]) << 16) | (static_cast<unsigned char>(bytes[i + 1]) << 8) |
                 static_cast<unsigned char>(bytes[i + 2]);
    out += kBase64[(v >> 18) & 63];
    out += kBase64[(v >> 12) & 63];
    out += kBase64[(v >> 6) & 63];
    out += kBase64[v & 63];
  }
  const size_t rest = bytes.size() - i;
  if (rest == 1) {
    uint32_t v = static_cast<unsigned char>(bytes[i]) << 16;
    out += kBase64[(v >> 18) & 63];
    out += kBase64[(v >> 12) & 63];
    out += "==";
  } else if (rest == 2) {
    uint32_t v = (static_cast<unsigned char>(bytes[i]) << 16) | (static_cast<unsigned char>(bytes[i + 1]) << 8);
    out += kBase64[(v >> 18) & 63];
    out += kBase64[(v >> 12) & 63];
    out += kBase64[(v >> 6) & 63];
    out += '=';
  }
}

bool CMsgText::DecodeBase64(const std::string& text, std::string& bytes) {
  if (text.size() % 4 != 0) return false;
  std::string out;
  out.reserve(text.size() / 4 * 3);
  for (size_t i = 0; i < text.size(); i += 4) {
    const bool last = i + 4 == text.size();
    int v[4];
    int pad = 0;
    for (int k = 0; k < 4; ++k) {
      const unsigned char c = static_cast<unsigned char>(text[i + k]);
      if (c == '=' && last && k >= 2) {
        v[k] = 0;
        ++pad;
        continue;
      }
      if (pad) return false;  // data after padding
      v[k] = Base64Value(c);
      if (v[k] < 0) return false;
    }
    const uint32_t n = (v[0] << 18) | (v[1] << 12) | (v[2] << 6) | v[3];
    out += static_cast<char>((n >> 16) & 0xFF);
    if (pad < 2) out += static_cast<char>((n >> 8) & 0xFF);
    if (pad < 1) out += static_cast<char>(n & 0xFF);
  }
  bytes.swap(out);
  return true;
}

void CMsgText::AppendUtf8(std::string& out, const char16_t* text, size_t length) {
  for (size_t i = 0; i < length; ++i) {
    const uint32_t c = text[i];
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c >= 0xD800 && c <= 0xDBFF && i + 1 < length && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      AppendCodePointUtf8(out, 0x10000 + ((c - 0xD800) << 10) + (static_cast<uint32_t>(text[i + 1]) - 0xDC00));
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      AppendCodePointUtf8(out, 0xFFFD);
    } else {
      AppendCodePointUtf8(out, c);
    }
  }
}

void CMsgText::AppendInt(std::string& out, int64_t value) { AppendChars(out, value); }
void CMsgText::AppendUInt(std::string& out, uint64_t value) { AppendChars(out, value); }

void CMsgText::AppendDouble(std::string& out, double value) {
  if (std::isnan(value)) {
    out += "nan";
    return;
  }
  AppendChars(out, value);
}

void CMsgText::AppendFloat(std::string& out, float value) {
  if (std::isnan(value)) {
    out += "nan";
    return;
  }
  AppendChars(out, value);
}

bool CMsgText::ParseInt(const std::string& text, int64_t& value) { return ParseWhole(text, value); }

bool CMsgText::ParseUInt(const std::string& text, uint64_t& value) {
  // from_chars would read "-1" as an error anyway; refuse the sign early.
  if (!text.empty() && text[0] == '-') return false;
  return ParseWhole(text, value);
}

bool CMsgText::ParseDouble(const std::string& text, double& value) { return ParseWhole(text, value); }

bool CMsgText::ParseFloat(const std::string& text, float& value) { return ParseWhole(text, value); }

bool CMsgText::ParseBool(const std::string& text, bool& value) {
  if (text == "1" || text == "true") {
    value = true;
    return true;
  }
  if (text == "0" || text == "false") {
    value = false;
    return true;
  }
  return false;
}

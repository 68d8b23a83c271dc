// Writes a message as XML text.
//
// Form: the root element is named after the class ("TMMsg.VMGroup", or
// "Msg.12.186" for a class without a wrapper) and carries its module (ns),
// id and type id; each present field is one element named after its kind
// (bool i32 u32 i64 u64 f32 f64 str msg list) with its indices as a and b
// attributes; a list holds one element per item, without indices; a
// sub-message element holds the sub-message's fields. Strings are escaped;
// a string that is not valid UTF-8 or holds characters XML cannot carry is
// written in base64 with enc="base64". Fields appear in ascending a order.
#pragma once

#include <string>

#include "msg/MsgXmlStyle.h"

class CMsgClassInfo;
class CNMessageBase;

class CMsgXmlWriter {
 public:
  enum EResult {
    kOk = 0,
    kNoClass = 1,   // a message without a class
    kTooDeep = 2,   // nesting beyond the style's depth
    kTooLarge = 3,  // text beyond the style's byte limit
  };

  // Replaces out with the text on success; leaves it unchanged otherwise
  // (the reason is logged). rootOpenTag, when given, is RootOpenTag of the
  // message's class and style, built earlier.
  static int Write(const CNMessageBase& msg, const SMsgXmlStyle& style, bool withDeclaration, std::string& out,
                   const std::string* rootOpenTag = nullptr);

  // The start of the root element (its name and attributes, without the
  // closing '>') for a class and style.
  static std::string RootOpenTag(const CMsgClassInfo& cls, const SMsgXmlStyle& style);
};

// Merging a partial message into a stored one, as the simulated server's
// replication stores do with a change: every field the partial message
// holds replaces the stored field whole (a present empty text counts as set;
// a sub-message or list is replaced, not merged); the other stored fields
// stay.
#pragma once

#include "msg/NMessageBase.h"

// Copies one present field of a message into `to`, replacing what `to`
// held in that field.
void MsgCopySlot(const SMsgSlot& slot, CNMessageBase& to);
// Every field of `partial` but the one at index skipA (-1: none) into `to`.
void MsgMergeInto(const CNMessageBase& partial, CNMessageBase& to, int skipA = -1);

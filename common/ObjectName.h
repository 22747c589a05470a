// The short form of an object name that trap texts and Get results show: the object's own name
// and index, without the module prefix and the parent names. Shared by the trap renderer and the
// Get pass.
#pragma once

#include <string>
#include <string_view>

// The object's own name and index of "MODULE::parent.name.index" (anything from the first "="
// on is ignored): module prefix and parent names removed, except that a dotted name without
// index keeps its last two components. Blanks around the name are removed.
std::string ShortenObjectName(std::string_view text);

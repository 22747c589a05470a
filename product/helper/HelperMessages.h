// The texts of the helper library's message numbers: 1499 (the exchange with the product server
// ended early), 1500 (it ended with a system error) and 1500 + r for an operation result r
// (1563: a call refused because the connection is blocked).
#pragma once

#include <string>

std::wstring HelperMessageText(int number);

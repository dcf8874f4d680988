// Texts of the network stack's socket error numbers, as the echo engine and the ping and
// trace tools print them.
#pragma once

constexpr unsigned SOCKET_ERROR_TEXT_SIZE = 54; // the longest text and its terminator

// The text of `code`. Without a buffer, a code outside the table is formatted as
// "error %u" into one buffer of this function's own, overwritten by the next such call.
// With a buffer (at least SOCKET_ERROR_TEXT_SIZE bytes) the text is written there and the
// buffer returned.
const char* SocketErrorText(unsigned code, char* buffer = nullptr);

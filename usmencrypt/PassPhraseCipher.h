// The settings cipher as the settings encryption tool uses it: one library load for a whole
// settings file, enciphering that is checked by deciphering, and a record of whether the cipher
// library could be used at all.
#pragma once

#include <string>

#include "common/Crypt.h"

class CPassPhraseCipher {
  public:
    CPassPhraseCipher();
    // `libraryName`: the file the cryptographic functions are loaded from.
    explicit CPassPhraseCipher(std::wstring libraryName);
    CPassPhraseCipher(const CPassPhraseCipher&) = delete;
    CPassPhraseCipher& operator=(const CPassPhraseCipher&) = delete;

    // An enciphered pass phrase (option A or X) in plain text, as the manager deciphers it: empty
    // text when it does not decipher. A library that cannot be used gives empty text too and is
    // recorded (LibraryFailed).
    std::wstring Decipher(const std::wstring& enciphered);

    // The enciphered text of `plain`, as the manager's DecipherPassword reads it back. False when
    // that text would not give back the pass phrase the manager uses (its code page 932 bytes):
    // the library cannot be used, `plain` holds a character that code page 932 lacks or a zero
    // character, or it is too long for the cipher. An empty `plain` gives empty text.
    bool Encipher(const std::wstring& plain, std::wstring& enciphered);

    // True once the cipher library could not be loaded or lacked a function: pass phrases read so
    // far may have been taken for empty ones.
    bool LibraryFailed() const { return m_libraryFailed; }

  private:
    bool Usable();

    CCrypt m_crypt;
    bool m_libraryFailed = false;
};

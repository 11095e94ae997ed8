// Fixed-width name fields of the archive and version-list records.
#pragma once
#include <cstddef>
#include <string>

// Reads a name field of `width` bytes into UTF-8. False when the field holds no NUL or the name is not
// valid code page 932 or UTF-8 text: the record is damaged.
bool ReadNameField(const char* field, size_t width, std::string& name);

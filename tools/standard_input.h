// Standard input as "-": its first bytes can be looked at to tell what it holds, and a reader still
// gets every byte from the start.
#pragma once

#include <cstdio>
#include <string>

// Up to `count` bytes from the start of standard input (fewer at its end), read once and kept.
const std::string& PeekStandardInput(size_t count);
// A stream of the whole of standard input, the bytes looked at first included.
FILE* StandardInput();

// The managed loader assembly and its symbols as carried in the library's data. The
// bytes are constant for the life of the library and may be read from any thread.
#pragma once

#include <cstdint>

struct embedded_blob {
    const uint8_t* data;
    uint32_t size;
};

embedded_blob embedded_loader_assembly();
embedded_blob embedded_loader_symbols();

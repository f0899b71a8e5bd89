#include "logging/generate_guid.h"

#include <uuid/uuid.h>

std::string generate_guid() {
    uuid_t id;
    uuid_generate_random(id);
    char text[37];
    uuid_unparse(id, text);
    return text;
}

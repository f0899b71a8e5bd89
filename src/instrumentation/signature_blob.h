// Building signature blobs from their constant parts and compressed tokens.
#pragma once

#include <cstdint>
#include <iterator>
#include <vector>

using blob = std::vector<uint8_t>;

template <size_t N>
blob to_blob(const uint8_t (&bytes)[N]) {
    return blob(std::begin(bytes), std::end(bytes));
}

// head + a compressed type token + tail.
inline blob with_token(const blob& head, const blob& token, const blob& tail = {}) {
    blob out = head;
    out.insert(out.end(), token.begin(), token.end());
    out.insert(out.end(), tail.begin(), tail.end());
    return out;
}

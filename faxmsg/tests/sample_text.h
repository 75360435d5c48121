// Deterministic texts for the codec tests: letters, memos and tables much
// like the bodies users fax.
#pragma once

#include <cstdint>
#include <string>

namespace faxmsg_test {

inline std::string SampleLetter(std::size_t size, std::uint32_t seed = 1) {
    static const char* const kWords[] = {
        "the",     "fax",     "order",   "invoice",  "delivery", "please",   "confirm",
        "receipt", "of",      "our",     "shipment", "number",   "and",      "to",
        "be",      "sent",    "by",      "Monday",   "regards",  "customer", "account",
        "payment", "terms",   "within",  "days",     "we",       "thank",    "you",
        "for",     "your",    "enquiry", "price",    "list",     "attached", "quantity",
        "unit",    "total",   "Müller",  "Straße",   "café",     "{draft}",  "C:\\orders\\2026",
        "office",  "meeting",
    };
    constexpr std::size_t kWordCount = sizeof(kWords) / sizeof(kWords[0]);
    std::string text;
    text.reserve(size + 64);
    std::uint32_t state = seed;
    auto next = [&state] {
        state = state * 1664525u + 1013904223u;
        return state >> 8;
    };
    std::size_t wordsInLine = 0;
    while (text.size() < size) {
        const auto roll = next() % 100;
        if (roll < 3) {
            text += "\r\n\r\n";
            wordsInLine = 0;
        } else if (roll < 5) {
            // Appended piece by piece: gcc 12 misreports a chain of string additions.
            text += '\t';
            text += std::to_string(next() % 10000);
            text += '\t';
            text += std::to_string(next() % 100);
            text += ".00";
        } else {
            if (wordsInLine != 0) {
                text += ' ';
            }
            text += kWords[next() % kWordCount];
            if (++wordsInLine == 12) {
                text += (next() % 2) != 0 ? ".\r\n" : ",\r\n";
                wordsInLine = 0;
            }
        }
    }
    text.resize(size);
    return text;
}

}  // namespace faxmsg_test

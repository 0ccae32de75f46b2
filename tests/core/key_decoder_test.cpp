// Which terminal input counts as the quit key.

#include "key_decoder.h"

#include <gtest/gtest.h>

#include <string>

namespace {

bool quits(const std::string& bytes) {
    Lumetra::KeyDecoder keys;
    return keys.feed(bytes.data(), bytes.size());
}

TEST(KeyDecoderTest, OnlyLowerCaseQQuits) {
    EXPECT_TRUE(quits("q"));
    EXPECT_TRUE(quits("hello q"));
    EXPECT_FALSE(quits("Q"));
    EXPECT_FALSE(quits("abc\r\n\x03"));
    EXPECT_FALSE(quits(""));
}

TEST(KeyDecoderTest, KeySequencesHoldingQAreNotTheQuitKey) {
    EXPECT_FALSE(quits("\x1bOq"));      // keypad 1, application mode
    EXPECT_FALSE(quits("\x1b[1;5q"));   // a control sequence ending in q
    EXPECT_FALSE(quits("\x1b\x1bOq"));  // the same with a meta prefix
    EXPECT_FALSE(quits("\x1b[A\x1bOP\x1b[15~\x1b[1;2D"));
    EXPECT_TRUE(quits("\x1b[Aq"));  // a key after a complete sequence
    EXPECT_TRUE(quits("\x1bOAq"));
}

TEST(KeyDecoderTest, EscapeThenQAreTwoKeysAsACursesReaderSeesThem) {
    EXPECT_TRUE(quits("\x1bq"));
}

TEST(KeyDecoderTest, APauseEndsAPendingEscape) {
    Lumetra::KeyDecoder keys;
    EXPECT_FALSE(keys.feed("\x1bO", 2));
    keys.idle();
    EXPECT_TRUE(keys.feed("q", 1));

    Lumetra::KeyDecoder split;  // a sequence split between reads still counts as one
    EXPECT_FALSE(split.feed("\x1b", 1));
    EXPECT_FALSE(split.feed("Oq", 2));
}

TEST(KeyDecoderTest, AnEndlessSequenceEndsAndLaterKeysCount) {
    std::string junk = "\x1b[" + std::string(10000, '1') + "q";
    EXPECT_TRUE(quits(junk));
    EXPECT_FALSE(quits("\x1b[" + std::string(20, '1') + "q"));
}

}  // namespace

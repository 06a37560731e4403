#include "app/soundtrack.h"

#include <gtest/gtest.h>

#include <climits>
#include <iterator>
#include <string>

TEST(SoundErrorString, MapsEveryCodeOfTheTable)
{
    const char* const expected[] = {
        "No errors",
        "Cannot call this command after FSOUND_Init.  Call FSOUND_Close first.",
        "This command failed because FSOUND_Init was not called",
        "Error initializing output device.",
        "The output device is already in use and cannot be reused.",
        "Playing the sound failed.",
        "Soundcard does not support the features needed for this soundsystem (16bit stereo output)",
        "Error setting cooperative level for hardware.",
        "Error creating hardware sound buffer.",
        "File not found",
        "Unknown file format",
        "Error loading file",
        "Not enough memory ",
        "The version number of this file format is not supported",
        "An invalid parameter was passed to this function",
        "Tried to use an EAX command on a non EAX enabled channel or output.",
        "Failed to allocate a new channel",
        "Recording not supported on this device",
        "Required Mediaplayer codec is not installed",
    };
    for (int code = 0; code < int(std::size(expected)); ++code)
        EXPECT_EQ(std::string(SoundErrorString(code)), expected[code]) << "code " << code;
}

TEST(SoundErrorString, CodesOutsideTheTableAreUnknown)
{
    for (int code : {19, 20, 1000, INT_MAX, -1, INT_MIN})
        EXPECT_EQ(std::string(SoundErrorString(code)), "Unknown error") << "code " << code;
}

// Volume recognition at sectors 16 to 25: NSR descriptors of either edition, the version-0 stop, short
// images.
#include <gtest/gtest.h>

#include "image_builder.h"
#include "udf/mount.h"

namespace {

using namespace udftest;

TEST(Recognition, NsrDescriptorsSetTheirEditionFlags) {
    const struct {
        std::vector<std::string> identifiers;
        bool recognised;
        uint32_t flags;
    } cases[] = {
        {{"BEA01", "NSR02", "TEA01"}, true, kNsrEdition2},
        {{"BEA01", "NSR03", "TEA01"}, true, kNsrEdition3},
        {{"NSR03"}, true, kNsrEdition3},  // no extended area descriptors needed around it
        {{"BEA01", "NSR02", "NSR03", "TEA01"}, true, kNsrEdition2 | kNsrEdition3},
        {{"CD001", "BEA01", "TEA01"}, false, 0},
        {{"BEA01", "NSR04", "TEA01"}, false, 0},
        {{"CD001", "CD001", "CD001", "CD001", "CD001", "CD001", "CD001", "CD001", "CD001", "NSR03"},
         true,
         kNsrEdition3},  // the tenth descriptor is still looked at
    };
    for (const auto& c : cases) {
        Image image;
        writeRecognition(image, c.identifiers);
        UdfVolume volume;
        attach(volume, image.bytes);
        EXPECT_EQ(recognizeVolume(&volume), c.recognised)
            << c.identifiers.size() << " " << c.identifiers[1 % c.identifiers.size()];
        EXPECT_EQ(volume.vrsFlags, c.flags);
    }
}

TEST(Recognition, WalkStopsAtStructureVersionZero) {
    Image image;
    writeRecognition(image, {"BEA01", "TEA01", "NSR03"});
    image.at(17)[6] = 0;  // the descriptor before the NSR one ends the walk
    UdfVolume volume;
    attach(volume, image.bytes);
    EXPECT_FALSE(recognizeVolume(&volume));

    image.at(18)[6] = 0;  // a version-0 NSR descriptor itself still counts
    image.at(17)[6] = 1;
    UdfVolume again;
    attach(again, image.bytes);
    EXPECT_TRUE(recognizeVolume(&again));
}

TEST(Recognition, ImageShorterThanTwentySixSectorsIsRefused) {
    for (uint32_t sectors : {0u, 17u, 25u}) {
        Image image;
        writeRecognition(image, {"NSR03"});
        image.bytes.resize(size_t(sectors) * kSector);
        bool mounted = true;
        auto volume = mountBytes(image.bytes, &mounted);
        EXPECT_FALSE(mounted) << sectors;
    }
    Image image;
    writeRecognition(image, {"NSR03"});
    ASSERT_EQ(image.sectors(), 26u);
    UdfVolume volume;
    attach(volume, image.bytes);
    EXPECT_TRUE(recognizeVolume(&volume));
}

TEST(Recognition, OpenOfAMissingPathFailsAndDestroysCleanly) {
    UdfVolume volume;
    EXPECT_FALSE(volume.open("/nonexistent/definitely/not/here.iso"));
    EXPECT_EQ(volume.image, nullptr);
    EXPECT_EQ(volume.root, nullptr);
    UdfVolume nullPath;
    EXPECT_FALSE(nullPath.open(nullptr));
}

}  // namespace

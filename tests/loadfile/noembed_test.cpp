// A program that does not link the embedded load file still builds; the
// lookup fails and the reader reports a missing resource.
#include <gtest/gtest.h>

#include "platform/resource.h"
#include "update/load_image.h"

TEST(WithoutEmbeddedLoadFile, LookupFailsCleanly) {
    const uint8_t* data = nullptr;
    size_t size = 0;
    EXPECT_FALSE(platform::FindEmbeddedLoadFile(&data, &size));
    LoadImage image;
    std::string why;
    EXPECT_EQ(OpenLoadImage(&image, &why), LoadImageStatus::kResourceMissing);
    EXPECT_FALSE(image.IsOpen());
    EXPECT_NE(why.find("cannot be found"), std::string::npos);
}

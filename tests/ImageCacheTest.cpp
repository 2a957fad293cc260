// Image lookup and the image cache: one decode per path, the exception, null images.
#include "ArchiveBuilders.h"
#include "BuiltInArchive.h"
#include "TestSupport.h"

#include <Assets/ImageCache.h>

#include "Messages.h"

#include <gtest/gtest.h>

#include <QImage>

#include <cstdio>
#include <cstdlib>

using namespace Qor::Draxel::Assets;
using namespace testing_support;

namespace {

class ImageCacheTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        testing_support::SetEnvironment("AssetsMountResourceRoot", nullptr);
        dir.MakeDir("res/images");
        dir.Write("res/fonts/dejavusans.ttf", "font");
        dir.Write("res/assets/" + BuiltInArchives().front().name,
                  MakeArchive({{"Shaders/x", "x"}}, BuiltInArchives().front().key));
        QImage image(7, 3, QImage::Format_ARGB32);
        image.fill(Qt::red);
        ASSERT_TRUE(image.save(QString::fromStdString(dir / "res/images/logo.png"), "PNG"));
        dir.Write("res/images/broken.png", "not an image at all");
        resource.reset(new Resource(qorfile::filepath(dir / "res"), qorfile::filepath(dir / "res/images"),
                                    qorfile::filepath(dir / "res/fonts"), qorfile::filepath(dir / "res/assets"),
                                    qorfile::filepath(dir / "res/tmp")));
    }

    ScratchDir dir;
    LogCapture log;
    std::unique_ptr<Resource> resource;
};

TEST_F(ImageCacheTest, ImageFileAlwaysAppendsPng)
{
    EXPECT_EQ(resource->ImageFile("logo").str(), dir / "res/images/logo.png");
    EnsureRecorder recorder;
    EXPECT_EQ(resource->ImageFile("logo.png").str(), dir / "res/images/logo.png.png");
    EXPECT_EQ(recorder.messages(), std::vector<std::string>{Messages::ImageFileMissing});
}

TEST_F(ImageCacheTest, DecodesOncePerPath)
{
    ImageCache cache(*resource);
    const qorfile::filepath path = resource->ImageFile("logo");
    const QImage& first = cache.Image(path);
    EXPECT_EQ(first.width(), 7);
    EXPECT_EQ(first.height(), 3);
    std::remove(path.str().c_str());
    const QImage& second = cache.Image(path);
    EXPECT_EQ(&first, &second);

    ImageCache copy(cache);
    EXPECT_EQ(copy.Image(path).width(), 7);
    EXPECT_NE(&copy.Image(path), &first);
}

TEST_F(ImageCacheTest, MissingFileThrowsWithThePath)
{
    ImageCache cache(*resource);
    const qorfile::filepath path(dir / "res/images/none.png");
    try {
        cache.Image(path);
        FAIL();
    } catch (const Qor::Draxel::Utility::Exception& error) {
        EXPECT_EQ(std::string(error.what()), "No image found :" + path.str());
    }
    EXPECT_THROW(cache.Image(qorfile::filepath("")), ImageCache::NoImageFoundException);
    EXPECT_THROW(cache.Image(qorfile::filepath(dir / "res/images")), std::exception);
}

TEST_F(ImageCacheTest, UndecodableFileIsCachedAsNull)
{
    ImageCache cache(*resource);
    const qorfile::filepath path(dir / "res/images/broken.png");
    const QImage& first = cache.Image(path);
    EXPECT_TRUE(first.isNull());
    EXPECT_EQ(&cache.Image(path), &first);
}

TEST_F(ImageCacheTest, EntriesAddedToACopyStayInTheCopy)
{
    ImageCache cache(*resource);
    ImageCache copy(cache);
    const qorfile::filepath path = resource->ImageFile("logo");
    copy.Image(path);
    std::remove(path.str().c_str());
    EXPECT_THROW(cache.Image(path), ImageCache::NoImageFoundException);
}

} // namespace

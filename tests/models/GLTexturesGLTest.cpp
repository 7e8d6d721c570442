// The two texture managers.  ModelTextures (MD2 skins): padding to powers of
// two with the picture's top row at texture row 0, sharing by name without
// regard to case, counting, giving the texture name back, reloading after
// DeleteAll.  TextureManager (characters, screens): sharing by exact name
// while held, bitmaps uploaded as they are with the bottom row at texture row 0,
// and the per-mesh TTextureList.  Pictures are written into a temporary data
// folder; textures are read back with glGetTexImage.
#include <QDir>
#include <QTemporaryDir>
#include <array>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "GLFixture.h"
#include "models/GLTextures.h"
#include "models/PCX.h"
#include "platform/Errors.h"

namespace {

// The colours the test pictures are painted with, by palette index.
constexpr std::array<uint32_t, 5> Colours = {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFF00, 0x808080};
enum { Red, Green, Blue, Yellow, Grey };

struct TRGB {
  uint8_t R = 0, G = 0, B = 0;
  friend bool operator==(const TRGB&, const TRGB&) = default;
};
std::ostream& operator<<(std::ostream& out, const TRGB& c) {
  return out << "rgb(" << int(c.R) << ", " << int(c.G) << ", " << int(c.B) << ")";
}
TRGB RGBOf(int index) {
  const uint32_t c = Colours[index];
  return {uint8_t(c >> 16), uint8_t(c >> 8), uint8_t(c)};
}

// Writes a width x height PCX whose pixel (x, y), y counted from the top,
// has the colour index that indexAt gives.
void WritePCX(const std::string& fileName, int width, int height,
              const std::function<int(int, int)>& indexAt) {
  TPCXImage picture;
  picture.SetPixelFormat(pf8bit);
  picture.SetSize(width, height);
  for (std::size_t i = 0; i < Colours.size(); ++i)
    picture.Palette()[i] = {uint8_t(Colours[i] >> 16), uint8_t(Colours[i] >> 8), uint8_t(Colours[i]), 0};
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) picture.ScanLine(y)[x] = static_cast<uint8_t>(indexAt(x, y));
  picture.SaveToFile(fileName);
}

// The level-0 image of the bound texture, rows from texture row 0.
struct TTexels {
  int Width = 0, Height = 0;
  std::vector<TRGB> Pixels;
  TRGB At(int s, int t) const { return Pixels.at(static_cast<std::size_t>(t) * Width + s); }
};
TTexels BoundTexels() {
  TTexels texels;
  glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &texels.Width);
  glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_HEIGHT, &texels.Height);
  texels.Pixels.resize(static_cast<std::size_t>(texels.Width) * texels.Height);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glGetTexImage(GL_TEXTURE_2D, 0, GL_RGB, GL_UNSIGNED_BYTE, texels.Pixels.data());
  return texels;
}

// The same as a Windows bitmap file (24 bits per pixel).
void WriteBMP(const std::string& fileName, int width, int height,
              const std::function<int(int, int)>& indexAt) {
  TBitmap picture(width, height, pf24bit);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) picture.SetPixel(x, y, Colours[indexAt(x, y)]);
  picture.SaveToFile(fileName);
}

std::string ErrorOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const Exception& error) {
    return error.Message();
  }
  return "(no error)";
}

// A current context and an empty data folder as the current folder.
class TexturesGL : public GLFixture {
 protected:
  void SetUp() override {
    GLFixture::SetUp();
    ASSERT_TRUE(Folder.isValid());
    Previous = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(Folder.path()));
    ASSERT_TRUE(QDir().mkdir("data"));
  }
  void TearDown() override {
    QDir::setCurrent(Previous);
    GLFixture::TearDown();
  }

  QTemporaryDir Folder;
  QString Previous;
};

class ModelTexturesGL : public TexturesGL {
 protected:
  void TearDown() override {
    // Whatever a failed test left registered goes before the context does.
    while (ModelTextures.Count() > 0) ModelTextures.Instance(0)->Release();
    TexturesGL::TearDown();
  }
};

using TextureManagerGL = TexturesGL;

}  // namespace

TEST_F(ModelTexturesGL, APictureIsPaddedToPowersOfTwoWithItsTopRowAtTextureRowZero) {
  // 100 x 60: the top row red with a yellow first pixel, the bottom row blue,
  // green between.
  WritePCX("data\\knight.pcx", 100, 60, [](int x, int y) {
    if (y == 0) return x == 0 ? Yellow : Red;
    return y == 59 ? Blue : Green;
  });
  TTextureInstance* skin = ModelTextures.Get("data\\knight.pcx");
  EXPECT_FLOAT_EQ(skin->ScaleU(), 0.78125f);
  EXPECT_FLOAT_EQ(skin->ScaleV(), 0.9375f);
  ASSERT_NE(skin->Bitmap(), nullptr);
  EXPECT_FALSE(skin->Loaded());

  skin->Bind();
  EXPECT_TRUE(skin->Loaded());
  EXPECT_EQ(skin->Bitmap(), nullptr) << "the picture is freed once uploaded";
  GLint bound = 0;
  glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
  EXPECT_EQ(GLuint(bound), skin->GLName());

  const TTexels texels = BoundTexels();
  ASSERT_EQ(texels.Width, 128);
  ASSERT_EQ(texels.Height, 64);
  EXPECT_EQ(texels.At(0, 0), RGBOf(Yellow));
  EXPECT_EQ(texels.At(1, 0), RGBOf(Red));
  EXPECT_EQ(texels.At(99, 0), RGBOf(Red));
  EXPECT_EQ(texels.At(50, 1), RGBOf(Green));
  EXPECT_EQ(texels.At(50, 58), RGBOf(Green));
  EXPECT_EQ(texels.At(0, 59), RGBOf(Blue));
  EXPECT_EQ(texels.At(99, 59), RGBOf(Blue));
  skin->Release();

  // A picture whose sides are powers of two keeps its size.
  WritePCX("data\\weapon.pcx", 64, 64, [](int, int y) { return y < 32 ? Red : Blue; });
  TTextureInstance* weapon = ModelTextures.Get("data\\weapon.pcx");
  EXPECT_FLOAT_EQ(weapon->ScaleU(), 1.0f);
  EXPECT_FLOAT_EQ(weapon->ScaleV(), 1.0f);
  weapon->Bind();
  const TTexels square = BoundTexels();
  EXPECT_EQ(square.Width, 64);
  EXPECT_EQ(square.Height, 64);
  EXPECT_EQ(square.At(10, 0), RGBOf(Red));
  EXPECT_EQ(square.At(10, 63), RGBOf(Blue));
  weapon->Release();
}

TEST_F(ModelTexturesGL, PicturesNarrowerThanFourPixelsKeepTheirColours) {
  // 24-bit rows of 1 or 2 pixels are padded to 4 bytes: the colours must not
  // be shifted by the padding.
  WritePCX("data\\tiny.pcx", 2, 2,
           [](int x, int y) { return y == 0 ? (x == 0 ? Red : Green) : (x == 0 ? Blue : Yellow); });
  TTextureInstance* tiny = ModelTextures.Get("data\\tiny.pcx");
  tiny->Bind();
  const TTexels texels = BoundTexels();
  ASSERT_EQ(texels.Width, 2);
  ASSERT_EQ(texels.Height, 2);
  EXPECT_EQ(texels.At(0, 0), RGBOf(Red));
  EXPECT_EQ(texels.At(1, 0), RGBOf(Green));
  EXPECT_EQ(texels.At(0, 1), RGBOf(Blue));
  EXPECT_EQ(texels.At(1, 1), RGBOf(Yellow));
  tiny->Release();
}

TEST_F(ModelTexturesGL, NamesAreSharedWithoutRegardToCaseAndTheLastReleaseDeletesTheName) {
  WritePCX("data\\knight.pcx", 8, 8, [](int, int) { return Green; });
  TTextureInstance* first = ModelTextures.Get("data\\knight.pcx");
  TTextureInstance* second = ModelTextures.Get("DATA\\KNIGHT.PCX");
  EXPECT_EQ(first, second);
  EXPECT_EQ(first->RefCount(), 2);
  EXPECT_EQ(ModelTextures.Count(), 1);
  EXPECT_EQ(ModelTextures.FileName(0), "data\\knight.pcx");

  first->Bind();
  const GLuint name = first->GLName();
  EXPECT_TRUE(glIsTexture(name));

  first->Release();
  EXPECT_EQ(second->RefCount(), 1);
  EXPECT_EQ(ModelTextures.Count(), 1);
  EXPECT_TRUE(glIsTexture(name)) << "one holder is left";

  second->Release();
  EXPECT_EQ(ModelTextures.Count(), 0);
  EXPECT_EQ(ModelTextures.Find("data\\knight.pcx"), nullptr);
  EXPECT_FALSE(glIsTexture(name));
}

TEST_F(ModelTexturesGL, DeleteAllForgetsTheNamesAndBindReloadsFromTheFile) {
  WritePCX("data\\knight.pcx", 4, 4, [](int, int) { return Red; });
  TTextureInstance* skin = ModelTextures.Get("data\\knight.pcx");
  skin->Bind();
  const GLuint before = skin->GLName();

  ModelTextures.DeleteAll();
  EXPECT_FALSE(skin->Loaded());
  EXPECT_FALSE(glIsTexture(before));
  EXPECT_EQ(ModelTextures.Count(), 1) << "textures stay registered";
  EXPECT_EQ(skin->RefCount(), 1);

  // The file changed meanwhile: the new picture is what gets uploaded.
  WritePCX("data\\knight.pcx", 4, 4, [](int, int) { return Blue; });
  skin->Bind();
  EXPECT_TRUE(skin->Loaded());
  EXPECT_TRUE(glIsTexture(skin->GLName()));
  EXPECT_EQ(BoundTexels().At(2, 2), RGBOf(Blue));

  // Once the file is gone, reloading fails with the open error, and the
  // texture is still there to be released.
  ModelTextures.DeleteAll();
  ASSERT_EQ(std::remove("data/knight.pcx"), 0);
  EXPECT_EQ(ErrorOf([&] { skin->Bind(); }), "Cannot open file data\\knight.pcx");
  EXPECT_FALSE(skin->Loaded());
  EXPECT_EQ(ErrorOf([&] { skin->Bind(); }), "Cannot open file data\\knight.pcx");
  skin->Release();
  EXPECT_EQ(ModelTextures.Count(), 0);
}

TEST_F(ModelTexturesGL, FilesAreFoundWhateverTheirCaseAndFailedLoadsAreNotRegistered) {
  WritePCX("data/Knight.PCX", 4, 4, [](int, int) { return Yellow; });
  TTextureInstance* skin = ModelTextures.Get("data\\knight.pcx");
  skin->Bind();
  EXPECT_EQ(BoundTexels().At(0, 0), RGBOf(Yellow));
  skin->Release();

  EXPECT_EQ(ErrorOf([] { ModelTextures.Get("data\\missing.pcx"); }), "Cannot open file data\\missing.pcx");
  EXPECT_EQ(ErrorOf([] { ModelTextures.Get("data\\knight.xyz"); }), "Unknown picture file extension (.xyz)");
  std::FILE* junk = std::fopen("data/junk.pcx", "wb");
  ASSERT_NE(junk, nullptr);
  std::fputs("not a picture", junk);
  std::fclose(junk);
  EXPECT_EQ(ErrorOf([] { ModelTextures.Get("data\\junk.pcx"); }), "Image PCX incorrecte");
  EXPECT_EQ(ModelTextures.Count(), 0);
}

TEST_F(ModelTexturesGL, DestroyingAManagerDestroysEveryTextureWhateverItsCount) {
  WritePCX("data\\a.pcx", 4, 4, [](int, int) { return Red; });
  WritePCX("data\\b.pcx", 4, 4, [](int, int) { return Green; });
  GLuint names[2];
  {
    GLTextures::TTextureManager manager;
    TTextureInstance* a = manager.Get("data\\a.pcx");
    manager.Get("data\\a.pcx");
    TTextureInstance* b = manager.Get("data\\b.pcx");
    a->Bind();
    b->Bind();
    names[0] = a->GLName();
    names[1] = b->GLName();
    EXPECT_TRUE(glIsTexture(names[0]) && glIsTexture(names[1]));
  }
  EXPECT_FALSE(glIsTexture(names[0]));
  EXPECT_FALSE(glIsTexture(names[1]));
}

// Every character holds its textures through the manager: characters
// dressed alike must share one picture and one texture name, or each
// remote player costs megabytes.
TEST_F(TextureManagerGL, TexturesAreSharedByExactNameUntilTheirLastHolderLetsGo) {
  WriteBMP("data\\flare.bmp", 4, 4, [](int, int) { return Grey; });
  TGLTexture* first = TextureManager.Get("data\\flare.bmp");
  TGLTexture* second = TextureManager.Get("data\\flare.bmp");
  TGLTexture* third = TextureManager.Get("data\\flare.bmp");
  EXPECT_EQ(first, second);
  EXPECT_EQ(first, third);
  EXPECT_EQ(first->FileName, "data\\flare.bmp");
  EXPECT_EQ(first->RefCount, 2) << "two holders past the first";
  EXPECT_EQ(first->Manager(), &TextureManager);
  EXPECT_EQ(TextureManager.Count(), 1);
  EXPECT_EQ(TextureManager.Find("data\\flare.bmp"), first);

  first->Bind();
  const GLuint name = first->GLName();
  EXPECT_TRUE(glIsTexture(name));
  second->Bind();
  EXPECT_EQ(second->GLName(), name) << "uploaded once";

  first->Release();
  second->Release();
  EXPECT_EQ(TextureManager.Find("data\\flare.bmp"), third) << "still held";
  third->Release();
  EXPECT_EQ(TextureManager.Count(), 0) << "the last holder's release destroys it";

  // Another name is another texture, and a name comes back as a new one.
  WriteBMP("data\\poils.bmp", 4, 4, [](int, int) { return Red; });
  TGLTexture* hair = TextureManager.Get("data\\poils.bmp");
  TGLTexture* again = TextureManager.Get("data\\flare.bmp");
  EXPECT_NE(hair, again);
  EXPECT_EQ(again->RefCount, 0);
  EXPECT_NE(again->Bitmap(), nullptr) << "read from its file anew";
  hair->Release();
  again->Release();
  EXPECT_EQ(TextureManager.Count(), 0);
}

TEST_F(TextureManagerGL, ABitmapIsUploadedAsItIsWithItsBottomRowAtTextureRowZero) {
  // 4 x 2: top row red with a yellow first pixel, bottom row blue.
  WriteBMP("data\\marbre.bmp", 4, 2, [](int x, int y) { return y == 0 ? (x == 0 ? Yellow : Red) : Blue; });
  TGLTexture* floor = TextureManager.Get("data\\marbre.bmp");
  ASSERT_NE(floor->Bitmap(), nullptr);
  floor->Bind();
  EXPECT_EQ(floor->Bitmap(), nullptr) << "the picture is freed once uploaded";
  const GLuint name = floor->GLName();
  const TTexels texels = BoundTexels();
  ASSERT_EQ(texels.Width, 4);
  ASSERT_EQ(texels.Height, 2);
  EXPECT_EQ(texels.At(0, 0), RGBOf(Blue));
  EXPECT_EQ(texels.At(3, 0), RGBOf(Blue));
  EXPECT_EQ(texels.At(0, 1), RGBOf(Yellow));
  EXPECT_EQ(texels.At(3, 1), RGBOf(Red));

  // Later binds only bind the same name.
  glBindTexture(GL_TEXTURE_2D, 0);
  floor->Bind();
  GLint bound = 0;
  glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
  EXPECT_EQ(GLuint(bound), name);
  EXPECT_EQ(floor->GLName(), name);
  floor->Release();
}

TEST_F(TextureManagerGL, LoadingErrorsReachTheCallerOfGet) {
  EXPECT_EQ(ErrorOf([] { TextureManager.Get("data\\missing.bmp"); }), "Cannot open file data\\missing.bmp");
  // Names are exact: the file on disk is Flare.bmp.
  WriteBMP("data/Flare.bmp", 4, 4, [](int, int) { return Red; });
  EXPECT_EQ(ErrorOf([] { TextureManager.Get("data\\flare.bmp"); }), "Cannot open file data\\flare.bmp");
  // Only Windows bitmaps are read, whatever the extension says.
  WritePCX("data\\skin.pcx", 4, 4, [](int, int) { return Red; });
  EXPECT_EQ(ErrorOf([] { TextureManager.Get("data\\skin.pcx"); }), "Bitmap image is not valid");
}

TEST_F(TextureManagerGL, ATextureListGivesTextureIToMaterialGroupI) {
  WriteBMP("data\\Chevalier.BMP", 4, 4, [](int, int) { return Red; });
  WriteBMP("data\\Humain.BMP", 4, 4, [](int, int) { return Green; });
  TTextureList textures;
  textures.Add("data\\Chevalier.BMP");
  textures.Add("data\\Humain.BMP");
  EXPECT_EQ(ErrorOf([&] { textures.Add("data\\Poils.BMP"); }), "Cannot open file data\\Poils.BMP");
  ASSERT_EQ(textures.Count(), 2);
  EXPECT_EQ(textures.Items(0)->FileName, "data\\Chevalier.BMP");
  EXPECT_EQ(textures.Items(1)->FileName, "data\\Humain.BMP");
  EXPECT_EQ(ErrorOf([&] { textures.Items(2); }), "List index out of bounds (2)");
  EXPECT_EQ(ErrorOf([&] { textures.Items(-1); }), "List index out of bounds (-1)");

  textures.Items(1)->Bind();
  EXPECT_EQ(BoundTexels().At(0, 0), RGBOf(Green));

  // A counted extra reference survives Clear.
  TGLTexture* kept = textures.Items(0);
  ++kept->RefCount;
  textures.Clear();
  EXPECT_EQ(textures.Count(), 0);
  EXPECT_EQ(kept->RefCount, 0);
  EXPECT_EQ(kept->FileName, "data\\Chevalier.BMP");
  kept->Release();
}

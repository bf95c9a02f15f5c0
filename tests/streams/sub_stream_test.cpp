#include "streams/sub_stream.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "support/test_support.h"

namespace plf {
namespace {

// Bytes 0..99, and a stream that holds them.
std::string Bytes(int from, int count) {
  std::string s;
  for (int i = from; i < from + count; ++i) s += static_cast<char>(i);
  return s;
}

std::unique_ptr<TMemoryStream> Base100() {
  auto s = std::make_unique<TMemoryStream>();
  s->WriteExact(Bytes(0, 100).data(), 100);
  s->SetPosition(0);
  return s;
}

std::string ReadStr(TStream& s, std::int32_t count) {
  std::string b(static_cast<std::size_t>(count), '\0');
  b.resize(static_cast<std::size_t>(s.Read(&b[0], count)));
  return b;
}

std::string ErrorOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const Exception& e) {
    return e.Message();
  }
  return "(none)";
}

// A stream that cannot tell where it is.
class LostStream : public TMemoryStream {
 public:
  std::int32_t Seek(std::int32_t, std::uint16_t) override { return -1; }
};

TEST(SubStream, ConstructionChecksTheWindow) {
  const struct Case {
    std::int32_t basePosition, start, size;
    const char* window;  // "start,size", or the message raised
  } cases[] = {
      {0, 70, 30, "70,30"}, {0, 71, 30, "Invalid sub-stream operation!"}, {10, -1, -1, "10,90"},
      {10, -1, 91, "Invalid sub-stream operation!"}, {0, 120, -1, "120,-20"},
  };
  for (const Case& c : cases) {
    auto base = Base100();
    base->SetPosition(c.basePosition);
    std::string window;
    try {
      TSubStream w(base.get(), c.start, c.size);
      window = std::to_string(w.WindowStart()) + "," + std::to_string(w.WindowSize());
    } catch (const Exception& e) {
      window = e.Message();
    }
    EXPECT_EQ(window, c.window) << c.start << "," << c.size;
    EXPECT_EQ(base->Position(), c.basePosition) << "construction moved the base";
  }
  EXPECT_THROW(TSubStream(nullptr, -1, -1), EInvalidOperation);
  LostStream lost;
  EXPECT_THROW(TSubStream(&lost, 0, 0), EInvalidOperation);
}

TEST(SubStream, SeekClampsToTheWindow) {
  const struct Case {
    std::int32_t from, offset;
    std::uint16_t origin;
    std::int32_t result;
  } cases[] = {{0, -5, 0, 0}, {0, 1000, 0, 30}, {0, -10, 2, 20}, {7, 5, 3, 7}, {7, -8, 1, 0}};
  auto base = Base100();
  for (const Case& c : cases) {
    TSubStream w(base.get(), 20, 30);
    w.SetPosition(c.from);
    EXPECT_EQ(w.Seek(c.offset, c.origin), c.result) << c.from << " " << c.offset << " " << c.origin;
  }
}

TEST(SubStream, WritesAreRefusedUnlessAllowed) {
  auto base = Base100();
  TSubStream w(base.get(), 20, 30);
  EXPECT_EQ(ErrorOf([&] { w.Write("abc", 3); }), "Sub-Stream is read-only!");

  w.SetReadOnly(false);
  w.SetPosition(25);
  EXPECT_EQ(ErrorOf([&] { w.Write("0123456789", 10); }), "Sub-stream overflow!");
  w.SetRaiseOnOverflow(false);
  EXPECT_EQ(w.Write("0123456789", 10), 5);
  EXPECT_EQ(w.Position(), 30);
  base->SetPosition(44);
  EXPECT_EQ(ReadStr(*base, 7), Bytes(44, 1) + "01234" + Bytes(50, 1));
}

}  // namespace
}  // namespace plf

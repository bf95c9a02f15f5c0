#include "streams/sub_stream.h"

#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <memory>
#include <string>

#include "support/test_support.h"

namespace plf {
namespace {

// A base of 100 bytes 0..99.
std::unique_ptr<TMemoryStream> Base100() {
  auto s = std::make_unique<TMemoryStream>();
  for (int i = 0; i < 100; ++i) {
    const char c = static_cast<char>(i);
    s->WriteExact(&c, 1);
  }
  s->SetPosition(0);
  return s;
}

std::string Bytes(int from, int count) {
  std::string s;
  for (int i = 0; i < count; ++i) s += static_cast<char>(from + i);
  return s;
}

std::string ReadStr(TStream& s, std::int32_t count) {
  std::string b(static_cast<std::size_t>(count > 0 ? count : 0), '\0');
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
  struct Case {
    std::int32_t basePosition, start, size;
    std::int32_t windowStart, windowSize;  // -1, -1: refused
  };
  const std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
  const Case cases[] = {
      {0, 70, 30, 70, 30},   {0, 71, 30, -1, -1},   {0, 20, -1, 20, 80},  {10, -1, -1, 10, 90},
      {10, -1, 90, 10, 90},  {10, -1, 91, -1, -1},  {0, 100, 0, 100, 0},  {0, 0, 0, 0, 0},
      {0, kMax, 10, -1, -1}, {0, 10, kMax, -1, -1}, {0, 120, -1, 120, -20},
  };
  for (const Case& c : cases) {
    auto base = Base100();
    base->SetPosition(c.basePosition);
    if (c.windowSize == -1 && c.windowStart == -1) {
      EXPECT_EQ(ErrorOf([&] { TSubStream w(base.get(), c.start, c.size); }), "Invalid sub-stream operation!")
          << c.start << "," << c.size;
    } else {
      TSubStream w(base.get(), c.start, c.size);
      EXPECT_EQ(w.WindowStart(), c.windowStart) << c.start << "," << c.size;
      EXPECT_EQ(w.WindowSize(), c.windowSize) << c.start << "," << c.size;
    }
    EXPECT_EQ(base->Position(), c.basePosition) << "construction moved the base";
  }
  EXPECT_EQ(ErrorOf([] { TSubStream w(nullptr, -1, -1); }), "Invalid sub-stream operation!");
  LostStream lost;
  EXPECT_THROW(TSubStream(&lost, 0, 0), EInvalidOperation);
}

TEST(SubStream, SeekClampsToTheWindow) {
  struct Case {
    std::int32_t from, offset;
    std::uint16_t origin;
    std::int32_t result;
  };
  const std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
  const std::int32_t kMin = std::numeric_limits<std::int32_t>::min();
  const Case cases[] = {
      {0, -5, 0, 0},   {0, 1000, 0, 30}, {0, -10, 2, 20}, {7, 5, 3, 7},     {7, 5, 1, 12},
      {7, -8, 1, 0},   {12, kMax, 1, 30}, {0, kMin, 2, 0}, {30, kMin, 1, 0}, {0, kMax, 2, 30},
  };
  auto base = Base100();
  for (const Case& c : cases) {
    TSubStream w(base.get(), 20, 30);
    w.SetPosition(c.from);
    EXPECT_EQ(w.Seek(c.offset, c.origin), c.result) << c.from << " " << c.offset << " " << c.origin;
    EXPECT_EQ(w.Position(), c.result);
  }
}

TEST(SubStream, EachReadPositionsTheBaseFirst) {
  auto base = Base100();
  TSubStream a(base.get(), 20, 30);
  TSubStream b(base.get(), 60, 10);
  EXPECT_EQ(ReadStr(a, 5), Bytes(20, 5));
  EXPECT_EQ(base->Position(), 25);
  base->SetPosition(90);
  EXPECT_EQ(ReadStr(*base, 2), Bytes(90, 2));
  EXPECT_EQ(ReadStr(b, 4), Bytes(60, 4));
  EXPECT_EQ(ReadStr(a, 5), Bytes(25, 5));
  EXPECT_EQ(ReadStr(b, 100), Bytes(64, 6));
}

TEST(SubStream, WritesAreRefusedUnlessAllowed) {
  auto base = Base100();
  TSubStream w(base.get(), 20, 30);
  base->SetPosition(77);
  EXPECT_EQ(ErrorOf([&] { w.Write("abc", 3); }), "Sub-Stream is read-only!");
  EXPECT_EQ(base->Position(), 77);

  w.SetReadOnly(false);
  w.SetPosition(5);
  EXPECT_EQ(w.Write("abc", 3), 3);
  base->SetPosition(25);
  EXPECT_EQ(ReadStr(*base, 3), "abc");

  w.SetPosition(25);
  EXPECT_EQ(ErrorOf([&] { w.Write("0123456789", 10); }), "Sub-stream overflow!");
  base->SetPosition(45);
  EXPECT_EQ(ReadStr(*base, 5), Bytes(45, 5)) << "an overflowing write wrote something";

  w.SetRaiseOnOverflow(false);
  w.SetPosition(25);
  EXPECT_EQ(w.Write("0123456789", 10), 5);
  EXPECT_EQ(w.Position(), 30);
  base->SetPosition(45);
  EXPECT_EQ(ReadStr(*base, 6), "01234" + Bytes(50, 1));
  EXPECT_EQ(w.Write("x", 1), 0);
}

}  // namespace
}  // namespace plf

#include "package/zlib_stream.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "support/package_bytes.h"

namespace plf {
namespace {

std::unique_ptr<TMemoryStream> SourceOf(const std::string& bytes) {
  auto s = std::make_unique<TMemoryStream>();
  s->WriteExact(bytes.data(), static_cast<std::int32_t>(bytes.size()));
  s->SetPosition(0);
  return s;
}

struct Inflating {
  explicit Inflating(const std::string& compressed)
      : source(SourceOf(compressed)), stream(std::make_unique<TDecompressionStream>(source.get())) {}
  std::unique_ptr<TMemoryStream> source;
  std::unique_ptr<TDecompressionStream> stream;

  std::string Read(std::int32_t count) {
    std::string s(static_cast<std::size_t>(count), '\0');
    s.resize(static_cast<std::size_t>(stream->Read(&s[0], count)));
    return s;
  }
};

std::string ErrorOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const Exception& e) {
    return e.Message();
  }
  return "(no exception)";
}

class BudgetGuard {
 public:
  explicit BudgetGuard(int allocations) { testing_hooks::SetZlibAllocationBudget(allocations); }
  ~BudgetGuard() { testing_hooks::SetZlibAllocationBudget(-1); }
};

// Bytes after the end of the zlib stream, even another stream, are not
// read as more data.
TEST(Decompression, StopsAtTheEndOfTheStream) {
  Inflating z(test::ZlibCompress("one") + test::ZlibCompress("two"));
  EXPECT_EQ(z.Read(100), "one");
  EXPECT_EQ(z.Read(100), "");
}

// The checksum is the last thing read: a read after it failed finds no
// input left, and must still fail rather than pass for the end.
TEST(Decompression, ADamagedEntryStaysDamaged) {
  std::string bytes = test::ZlibCompress("0123456789");
  bytes.back() = static_cast<char>(bytes.back() ^ 1);
  Inflating z(bytes);
  for (int i = 0; i < 2; ++i) EXPECT_EQ(ErrorOf([&] { z.Read(100); }), "Decompression error -3") << i;
}

TEST(Decompression, SeekRulesAfterReadingFourBytes) {
  struct Case {
    std::int32_t offset;
    std::uint16_t origin;
    const char* outcome;  // the new position, or the message raised
    const char* next;     // what a following read of 3 bytes gives
  };
  const Case cases[] = {
      {0, 1, "4", "456"}, {2, 1, "6", "678"}, {7, 0, "7", "789"}, {0, 0, "0", "012"},
      {4, 0, "Invalid stream operation", nullptr}, {-1, 1, "Invalid stream operation", nullptr},
      {0, 2, "Invalid stream operation", nullptr}, {11, 0, "Stream read error", nullptr},
  };
  for (const Case& c : cases) {
    Inflating z(test::ZlibCompress("0123456789"));
    ASSERT_EQ(z.Read(4), "0123");
    std::string outcome;
    try {
      outcome = std::to_string(z.stream->Seek(c.offset, c.origin));
    } catch (const Exception& e) {
      outcome = e.Message();
    }
    EXPECT_EQ(outcome, c.outcome) << c.offset << "," << c.origin;
    if (c.next != nullptr) {
      EXPECT_EQ(z.Read(3), c.next) << c.offset << "," << c.origin;
    }
  }
}

TEST(Decompression, PresetDictionaryIsRefused) {
  Inflating z(test::ZlibWithDictionary("some text text text", "text"));
  EXPECT_THROW(z.Read(100), EDecompressionError);
  EXPECT_THROW(z.Read(100), EDecompressionError);
}

TEST(Decompression, ExhaustedMemoryIsMinusFour) {
  auto source = SourceOf(test::ZlibCompress("data"));
  BudgetGuard none(0);  // the state is allocated at set-up
  EXPECT_EQ(ErrorOf([&] { TDecompressionStream s(source.get()); }), "Decompression error -4");
}

}  // namespace
}  // namespace plf

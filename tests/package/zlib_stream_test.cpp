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

// A second read gives nothing more, or the same error again.
TEST(Decompression, ReadsWhatWasCompressedOrRaisesMinusThree) {
  const std::string data = test::PatternBytes(1000);
  std::string badAdler = test::ZlibCompress(data);
  badAdler.back() = static_cast<char>(badAdler.back() ^ 1);
  const std::string big = test::PatternBytes(100000);
  const std::string bigCompressed = test::ZlibCompress(big);
  const char* const kDamaged = "Decompression error -3";
  const struct Case {
    const char* what;
    std::string bytes, content;  // for a cut stream: what the read gives a part of
    const char* error;
  } cases[] = {
      {"whole", test::ZlibCompress("0123456789"), "0123456789", nullptr},
      {"bytes after the end", test::ZlibCompress("hello") + std::string(100, 'x'), "hello", nullptr},
      {"a second stream after the end", test::ZlibCompress("one") + test::ZlibCompress("two"), "one", nullptr},
      {"cut", bigCompressed.substr(0, bigCompressed.size() / 2), big, nullptr},
      {"raw deflate", test::RawDeflate(data), "", kDamaged},
      {"altered Adler-32", badAdler, "", kDamaged},
      {"garbage", std::string(64, '\x55'), "", kDamaged},
  };
  for (const Case& c : cases) {
    const bool cut = c.content == big;
    Inflating z(c.bytes);
    EXPECT_EQ(z.Read(0), "") << c.what;
    std::string first, second;
    const std::string error = ErrorOf([&] { first = z.Read(200000); });
    EXPECT_EQ(error, c.error ? c.error : "(no exception)") << c.what;
    EXPECT_EQ(ErrorOf([&] { second = z.Read(200000); }), error) << c.what;
    EXPECT_EQ(second, "") << c.what;
    EXPECT_EQ(first, c.content.substr(0, cut ? first.size() : std::string::npos)) << c.what;
    EXPECT_EQ(first.size() < c.content.size(), cut) << c.what;
    EXPECT_TRUE(c.error != nullptr || z.stream->Position() == static_cast<std::int32_t>(first.size())) << c.what;
  }
}

TEST(Decompression, SeekRulesAfterReadingFourBytes) {
  struct Case {
    std::int32_t offset;
    std::uint16_t origin;
    const char* outcome;  // the new position, or the message raised
    const char* next;     // what a following read of 3 bytes gives
  };
  const Case cases[] = {
      {0, 1, "4", "456"}, {10, 0, "10", ""},
      {7, 0, "7", "789"}, {2, 1, "6", "678"},
      {4, 0, "Invalid stream operation", nullptr}, {3, 0, "Invalid stream operation", nullptr},
      {0, 2, "Invalid stream operation", nullptr}, {-1, 1, "Invalid stream operation", nullptr},
      {-1, 0, "Invalid stream operation", nullptr}, {-2147483647 - 1, 0, "Invalid stream operation", nullptr},
      {5, 3, "Invalid stream operation", nullptr}, {1000, 1, "Stream read error", nullptr},
      {11, 0, "Stream read error", nullptr}, {0, 0, "0", "012"},
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
  const std::string compressed = test::ZlibCompress(test::PatternBytes(100));
  auto source = SourceOf(compressed);
  {
    BudgetGuard none(0);
    EXPECT_EQ(ErrorOf([&] { TDecompressionStream s(source.get()); }), "Decompression error -4");
  }
  // The state is allocated at set-up, the window when output has to be
  // kept for later (a read shorter than the data).
  BudgetGuard one(1);
  auto stream = std::make_unique<TDecompressionStream>(source.get());
  char buffer[6];
  EXPECT_EQ(ErrorOf([&] { stream->Read(buffer, 6); }), "Decompression error -4");
}

}  // namespace
}  // namespace plf

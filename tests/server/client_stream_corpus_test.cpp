// Replays the stored fuzz corpus through the frame cutter and the dispatcher.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "tests/server/client_stream_fuzz.h"

namespace ecr {
namespace {

TEST(ClientStreamCorpus, EveryStoredInputRunsWithoutHarm) {
  const std::filesystem::path corpus = std::filesystem::path(ECR_FUZZ_CORPUS_DIR);
  ASSERT_TRUE(std::filesystem::is_directory(corpus)) << corpus;
  bool any = false;
  for (const auto& entry : std::filesystem::directory_iterator(corpus)) {
    if (!entry.is_regular_file()) continue;
    SCOPED_TRACE(entry.path().filename().string());
    std::ifstream file(entry.path(), std::ios::binary);
    const std::vector<char> bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    testing_support::FuzzClientStream(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    any = true;
  }
  EXPECT_TRUE(any) << "the corpus is empty";
}

}  // namespace
}  // namespace ecr

// Reference counting and QueryInterface of every object of the stand-in.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <vector>

#include "asf_format/byte_sink.h"
#include "wm_standin/sample_buffer.h"
#include "wm_standin/tests/wm_fixtures.h"
#include "wm_standin/writer.h"

namespace kestrum::testing {
namespace {

using wmsdk::SampleBuffer;
using wmsdk::SamplePool;

struct ObjectCase {
  const char* name;
  std::function<IUnknown*()> make;  // one reference, the test's
  std::vector<IID> offered;
  std::vector<IID> refused;
};

IUnknown* MakeManager() {
  IWMProfileManager* manager = nullptr;
  WMCreateProfileManager(&manager);
  return manager;
}

IUnknown* MakeProfile() {
  ComRef<IWMProfileManager> manager;
  WMCreateProfileManager(manager.Put());
  IWMProfile* profile = nullptr;
  if (manager) manager->CreateEmptyProfile(WMT_VER_9_0, &profile);
  return profile;
}

IUnknown* MakeStream(const GUID& type) {
  ComRef<IWMProfile> profile(static_cast<IWMProfile*>(MakeProfile()));
  IWMStreamConfig* config = nullptr;
  if (profile) profile->CreateNewStream(type, &config);
  return config;
}

IUnknown* MakeWriter() {
  IWMWriter* writer = nullptr;
  WMCreateWriter(nullptr, &writer);
  return writer;
}

IUnknown* MakeSample() {
  IWMWriter* writer = static_cast<IWMWriter*>(MakeWriter());
  INSSBuffer* sample = nullptr;
  if (writer != nullptr) {
    writer->AllocateSample(64, &sample);
    writer->Release();  // the sample outlives its writer
  }
  return sample;
}

const ObjectCase kObjects[] = {
    {"ProfileManager", MakeManager, {IID_IWMProfileManager}, {IID_IWMProfile, IID_IWMWriter}},
    {"Profile", MakeProfile, {IID_IWMProfile}, {IID_IWMProfileManager, IID_IWMStreamConfig}},
    {"VideoStream",
     [] { return MakeStream(kWmMediaTypeVideo); },
     {IID_IWMStreamConfig, IID_IWMMediaProps, IID_IWMVideoMediaProps, IID_IWMPropertyVault},
     {IID_IWMInputMediaProps, IID_IWMProfile}},
    {"AudioStream",
     [] { return MakeStream(kWmMediaTypeAudio); },
     {IID_IWMStreamConfig, IID_IWMMediaProps, IID_IWMPropertyVault},
     {IID_IWMVideoMediaProps, IID_IWMInputMediaProps}},
    {"Writer",
     MakeWriter,
     {IID_IWMWriter, IID_IWMWriterAdvanced, IID_IWMWriterAdvanced2, IID_IWMWriterAdvanced3,
      IID_IWMHeaderInfo},
     {IID_IWMProfile, IID_INSSBuffer}},
    {"Sample", MakeSample, {IID_INSSBuffer}, {IID_IWMWriter, IID_IWMMediaProps}},
};

class ComObjectTest : public ::testing::TestWithParam<ObjectCase> {};

TEST_P(ComObjectTest, OffersItsInterfacesWithOneIdentity) {
  ComRef<IUnknown> object(GetParam().make());
  ASSERT_TRUE(object);
  void* identity = nullptr;
  ASSERT_EQ(object->QueryInterface(IID_IUnknown, &identity), S_OK);
  ComRef<IUnknown> identity_ref(static_cast<IUnknown*>(identity));
  for (const IID& iid : GetParam().offered) {
    ComRef<IUnknown> offered;
    ASSERT_EQ(object->QueryInterface(iid, offered.PutVoid()), S_OK);
    ASSERT_TRUE(offered);
    // Every interface leads back to the same IUnknown.
    void* back = nullptr;
    ASSERT_EQ(offered->QueryInterface(IID_IUnknown, &back), S_OK);
    EXPECT_EQ(back, identity);
    static_cast<IUnknown*>(back)->Release();
  }
}

TEST_P(ComObjectTest, RefusesOtherInterfacesAndClearsTheOutParameter) {
  ComRef<IUnknown> object(GetParam().make());
  ASSERT_TRUE(object);
  for (const IID& iid : GetParam().refused) {
    void* refused = &refused;
    EXPECT_EQ(object->QueryInterface(iid, &refused), E_NOINTERFACE);
    EXPECT_EQ(refused, nullptr);
  }
  EXPECT_EQ(object->QueryInterface(IID_IUnknown, nullptr), E_POINTER);
}

TEST_P(ComObjectTest, CountsReferencesAcrossInterfaces) {
  IUnknown* object = GetParam().make();
  ASSERT_NE(object, nullptr);
  EXPECT_EQ(object->AddRef(), 2u);
  void* other = nullptr;
  ASSERT_EQ(object->QueryInterface(GetParam().offered.back(), &other), S_OK);
  EXPECT_EQ(static_cast<IUnknown*>(other)->Release(), 2u);
  EXPECT_EQ(object->Release(), 1u);
  EXPECT_EQ(object->Release(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Objects, ComObjectTest, ::testing::ValuesIn(kObjects),
                         [](const auto& test) { return std::string(test.param.name); });

// The last Release deletes the object: a sample buffer's storage then goes
// back to its pool, and the next sample of a fitting size reuses it.
TEST(SampleBufferTest, LastReleaseReturnsStorageForReuse) {
  auto pool = std::make_shared<SamplePool>();
  INSSBuffer* first = nullptr;
  ASSERT_EQ(SampleBuffer::Create(pool, 1024000, &first), S_OK);
  BYTE* first_bytes = nullptr;
  ASSERT_EQ(first->GetBuffer(&first_bytes), S_OK);
  first->AddRef();
  EXPECT_EQ(first->Release(), 1u);
  EXPECT_EQ(pool->kept(), 0u);
  EXPECT_EQ(first->Release(), 0u);
  EXPECT_EQ(pool->kept(), 1u);

  ComRef<INSSBuffer> second;
  ASSERT_EQ(SampleBuffer::Create(pool, 1000000, second.Put()), S_OK);
  BYTE* second_bytes = nullptr;
  ASSERT_EQ(second->GetBuffer(&second_bytes), S_OK);
  EXPECT_EQ(second_bytes, first_bytes);
  EXPECT_EQ(pool->kept(), 0u);
  DWORD max_length = 0;
  ASSERT_EQ(second->GetMaxLength(&max_length), S_OK);
  EXPECT_EQ(max_length, 1000000u);  // the size asked for, not the block's capacity
}

// Released buffers come back whole, object and storage: the pool keeps them
// (within its budget), a new sample takes the smallest kept one that fits,
// and a reused buffer starts with the lengths of its new size.
TEST(SampleBufferTest, ReusesTheSmallestFittingReleased) {
  constexpr DWORD kStep = 64 << 10;  // a multiple of the pool's rounding
  auto pool = std::make_shared<SamplePool>();
  std::vector<INSSBuffer*> buffers(6);
  std::vector<BYTE*> bytes(6);
  for (size_t i = 0; i < buffers.size(); ++i) {
    ASSERT_EQ(SampleBuffer::Create(pool, kStep * static_cast<DWORD>(i + 1), &buffers[i]), S_OK);
    ASSERT_EQ(buffers[i]->GetBuffer(&bytes[i]), S_OK);
    ASSERT_EQ(buffers[i]->SetLength(10), S_OK);
  }
  for (INSSBuffer* buffer : buffers) EXPECT_EQ(buffer->Release(), 0u);
  EXPECT_EQ(pool->kept(), 6u);

  for (const auto& [size, reused] : {std::pair{kStep, 1}, std::pair{3 * kStep + 1, 4}}) {
    ComRef<INSSBuffer> sample;
    ASSERT_EQ(SampleBuffer::Create(pool, size, sample.Put()), S_OK);
    BYTE* sample_bytes = nullptr;
    DWORD length = 0;
    DWORD max_length = 0;
    ASSERT_EQ(sample->GetBufferAndLength(&sample_bytes, &length), S_OK);
    ASSERT_EQ(sample->GetMaxLength(&max_length), S_OK);
    EXPECT_EQ(sample_bytes, bytes[static_cast<size_t>(reused) - 1]) << size;
    EXPECT_EQ(length, size);
    EXPECT_EQ(max_length, size);
    sample.Reset();  // back to the pool before the next one is asked for
  }
  EXPECT_EQ(pool->kept(), 6u);
}

// The last reference to a pool may be a buffer's (its writer gone): the
// buffer's last Release then ends both. Meaningful under the sanitizers.
TEST(SampleBufferTest, OutlivesItsPool) {
  auto pool = std::make_shared<SamplePool>();
  INSSBuffer* sample = nullptr;
  ASSERT_EQ(SampleBuffer::Create(pool, 100, &sample), S_OK);
  pool.reset();
  BYTE* bytes = nullptr;
  ASSERT_EQ(sample->GetBuffer(&bytes), S_OK);
  bytes[99] = 1;
  EXPECT_EQ(sample->Release(), 0u);
}

TEST(SampleBufferTest, LengthStaysWithinTheMaximum) {
  auto pool = std::make_shared<SamplePool>();
  ComRef<INSSBuffer> sample;
  ASSERT_EQ(SampleBuffer::Create(pool, 100, sample.Put()), S_OK);
  EXPECT_EQ(sample->SetLength(60), S_OK);
  EXPECT_EQ(sample->SetLength(101), NS_E_INVALID_REQUEST);
  BYTE* bytes = nullptr;
  DWORD length = 0;
  ASSERT_EQ(sample->GetBufferAndLength(&bytes, &length), S_OK);
  EXPECT_NE(bytes, nullptr);
  EXPECT_EQ(length, 60u);
  EXPECT_EQ(sample->SetLength(100), S_OK);
  EXPECT_EQ(sample->GetBufferAndLength(nullptr, &length), E_POINTER);
}

}  // namespace
}  // namespace kestrum::testing

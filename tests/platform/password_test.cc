// The password cipher and base64.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "platform/base/QiFile.h"
#include "platform/msg/PString.h"
#include "platform/suite/Base64.h"
#include "platform/suite/ClientContext.h"
#include "platform/suite/ClientContextScope.h"
#include "platform/suite/PlatformInfo.h"
#include "platform/suite/TQPassword.h"
#include "tests/platform/TempDir.h"

// Each test gets its own base directory, so its own key.
class PasswordTest : public ::testing::Test {
 protected:
  void SetUp() override { CRegistry::Instance().Set("Base", "dBASEHOME", base_.path()); }
  void TearDown() override { CRegistry::Instance().Remove("Base", "dBASEHOME"); }

  std::string Encrypt(const std::string& plain) {
    char buffer[1024];
    unsigned int length = sizeof buffer;
    EXPECT_NE(TQPassword().encrypt(plain.c_str(), buffer, length), 0);
    EXPECT_EQ(std::strlen(buffer), length);
    return std::string(buffer, length);
  }
  bool Decrypt(const std::string& text, std::string& plain) {
    char buffer[1024];
    unsigned long length = sizeof buffer;
    if (!TQPassword().decrypt(text.c_str(), buffer, length)) return false;
    EXPECT_EQ(buffer[length], '\0');
    plain.assign(buffer, length);
    return true;
  }

  TempDir base_;
};

TEST_F(PasswordTest, RoundTrip) {
  for (std::string plain : {"", "cassandra", "p@ss word;=<xml>&\"'", "\xc3\xa9t\xc3\xa9"}) {
    std::string text = Encrypt(plain);
    std::string back;
    ASSERT_TRUE(Decrypt(text, back)) << plain;
    EXPECT_EQ(back, plain);
  }
}

TEST_F(PasswordTest, CipherTextIsPrintableAndFreshEachTime) {
  std::string a = Encrypt("secret"), b = Encrypt("secret");
  EXPECT_NE(a, b);  // a new nonce every time
  EXPECT_EQ(a.find("secret"), std::string::npos);
  for (char c : a)
    EXPECT_TRUE(std::isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '/' || c == '=')
        << c;
  EXPECT_EQ(a.size(), 4 * ((6 + 28 + 2) / 3));
}

TEST_F(PasswordTest, A512BytePasswordFitsThe1024ByteBuffer) {
  std::string plain(512, 'x');
  char encrypted[1024];
  unsigned int length = sizeof encrypted;
  ASSERT_NE(TQPassword().encrypt(plain.c_str(), encrypted, length), 0);
  EXPECT_EQ(length, 720u);
  char decrypted[1024];
  int plainLength = sizeof decrypted;
  ASSERT_NE(TQPassword().decrypt(encrypted, decrypted, plainLength), 0);
  EXPECT_EQ(plainLength, 512);
  EXPECT_EQ(std::string(decrypted), plain);
}

TEST_F(PasswordTest, TamperedTextFailsToDecrypt) {
  std::string text = Encrypt("the keystore password");
  std::string plain = "untouched";
  // Flip bits in the nonce, the cipher text and the tag in turn.
  for (size_t at : {size_t{2}, text.size() / 2, text.size() - 4}) {
    std::string bad = text;
    bad[at] = bad[at] == 'A' ? 'B' : 'A';
    EXPECT_FALSE(Decrypt(bad, plain)) << at;
  }
  EXPECT_FALSE(Decrypt(text.substr(0, text.size() - 4), plain));  // truncated
  EXPECT_FALSE(Decrypt("not base64!", plain));
  EXPECT_FALSE(Decrypt("", plain));
  EXPECT_FALSE(Decrypt("c2VjcmV0", plain));  // base64 of a plain password
  EXPECT_EQ(plain, "untouched");
  std::string back;
  EXPECT_TRUE(Decrypt(text, back));
}

TEST_F(PasswordTest, TooSmallBuffersFailAndLeaveTheLength) {
  std::string text = Encrypt("0123456789");
  char small[10];
  unsigned int length = sizeof small;  // the 10 characters fit, their NUL does not
  EXPECT_EQ(TQPassword().decrypt(text.c_str(), small, length), 0);
  EXPECT_EQ(length, sizeof small);
  length = 12;
  char fits[12];
  EXPECT_NE(TQPassword().decrypt(text.c_str(), fits, length), 0);
  EXPECT_EQ(length, 10u);

  char out[32];
  unsigned int outLength = sizeof out;
  EXPECT_EQ(TQPassword().encrypt("0123456789", out, outLength), 0);  // needs 53 bytes
  EXPECT_EQ(outLength, sizeof out);
  long negative = -1;
  EXPECT_EQ(TQPassword().encrypt("x", out, negative), 0);
  EXPECT_EQ(TQPassword().encrypt(nullptr, out, outLength), 0);
}

TEST_F(PasswordTest, KeyIsMadeOnceAndKeptPrivate) {
  std::string path = TQPassword::KeyFilePath();
  EXPECT_EQ(path, base_.Sub("keys/password.key"));
  std::string text = Encrypt("a");
  struct stat st;
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(st.st_size, 32);
  ASSERT_EQ(stat(base_.Sub("keys").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  std::string keyBefore;
  ASSERT_FALSE(CQiFile::ReadWholeFile(path.c_str(), keyBefore).IsError());
  Encrypt("b");
  std::string keyAfter;
  ASSERT_FALSE(CQiFile::ReadWholeFile(path.c_str(), keyAfter).IsError());
  EXPECT_EQ(keyBefore, keyAfter);
}

TEST_F(PasswordTest, ATextFromAnotherSuiteKeyFails) {
  std::string text = Encrypt("secret");
  TempDir other;
  CRegistry::Instance().Set("Base", "dBASEHOME", other.path());
  std::string plain;
  EXPECT_FALSE(Decrypt(text, plain));
  CRegistry::Instance().Set("Base", "dBASEHOME", base_.path());
  EXPECT_TRUE(Decrypt(text, plain));
}

TEST_F(PasswordTest, AMalformedKeyFileIsNotReplaced) {
  TempDir other;
  CRegistry::Instance().Set("Base", "dBASEHOME", other.path());
  CQiDirectory::Create(other.Sub("keys").c_str(), true);
  CQiFile file;
  ASSERT_FALSE(file.Open(other.Sub("keys/password.key").c_str(), "w").IsError());
  file.Write("short", 5);
  file.Close();
  char buffer[1024];
  unsigned int length = sizeof buffer;
  EXPECT_EQ(TQPassword().encrypt("x", buffer, length), 0);
  std::string content;
  CQiFile::ReadWholeFile(other.Sub("keys/password.key").c_str(), content);
  EXPECT_EQ(content, "short");
}

TEST_F(PasswordTest, SimulatedClientsShareTheSuiteKey) {
  std::string text;
  {
    SClientIdentity coordinator;
    coordinator.clientName = "coordinator";
    coordinator.baseDirectory = base_.Sub("coordinator");
    CClientContextScope scope(coordinator);
    text = Encrypt("shared");
  }
  std::string plain;
  std::thread node([&] {
    SClientIdentity identity;
    identity.clientName = "node1";
    identity.baseDirectory = base_.Sub("node1");
    CClientContextScope scope(identity);
    Decrypt(text, plain);
  });
  node.join();
  EXPECT_EQ(plain, "shared");
}

TEST_F(PasswordTest, ConcurrentUseMakesOneKey) {
  std::vector<std::thread> threads;
  std::vector<std::string> texts(8);
  for (int i = 0; i < 8; ++i)
    threads.emplace_back([&, i] { texts[i] = Encrypt("p" + std::to_string(i)); });
  for (auto& t : threads) t.join();
  for (int i = 0; i < 8; ++i) {
    std::string plain;
    ASSERT_TRUE(Decrypt(texts[i], plain));
    EXPECT_EQ(plain, "p" + std::to_string(i));
  }
}

TEST_F(PasswordTest, ProtectedStringGivesTheStoredText) {
  std::string text = Encrypt("jmx");
  pstring field(text);
  std::string plain;
  ASSERT_TRUE(Decrypt(field.getPlainPassword(), plain));
  EXPECT_EQ(plain, "jmx");
}

TEST(Base64Test, EncodesLikeRfc4648) {
  struct Case {
    std::string bytes;
    const char* text;
  } cases[] = {{"", ""},
               {"f", "Zg=="},
               {"fo", "Zm8="},
               {"foo", "Zm9v"},
               {"foob", "Zm9vYg=="},
               {"fooba", "Zm9vYmE="},
               {"foobar", "Zm9vYmFy"},
               {std::string("\0\xff\xfe", 3), "AP/+"}};
  for (const auto& c : cases) {
    EXPECT_EQ(base64Encode(c.bytes), c.text);
    std::string out;
    base64Encode(c.bytes, out);
    EXPECT_EQ(out, c.text);
    std::string back;
    ASSERT_TRUE(base64Decode(c.text, back)) << c.text;
    EXPECT_EQ(back, c.bytes);
  }
  std::string fromText;
  base64Encode("cassandra", fromText);
  EXPECT_EQ(fromText, "Y2Fzc2FuZHJh");
  std::string big(3 * 1024 * 1024 + 5, 'a');
  std::string bigBack;
  ASSERT_TRUE(base64Decode(base64Encode(big), bigBack));
  EXPECT_EQ(bigBack, big);
  EXPECT_EQ(base64Encode(big).find('='), base64Encode(big).size() - 1);  // padding only at the end
}

TEST(Base64Test, DecodeRejectsMalformedText) {
  std::string out = "keep";
  for (const char* bad : {"Zg=", "Zg=a", "Z===", "Zm9v\n", "Zm 9", "====", "Zg==Zg=="})
    EXPECT_FALSE(base64Decode(bad, out)) << bad;
  EXPECT_EQ(out, "keep");
}

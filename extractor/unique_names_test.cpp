#include "extractor/unique_names.h"

#include <gtest/gtest.h>

namespace mailsift {
namespace {

TEST(UniqueNames, LaterFilesOfANameGetANumberBeforeTheExtension) {
  UniqueNames names;
  auto take = [&](const std::string& wanted) {
    std::string name = names.Propose(wanted);
    names.Take(name);
    return name;
  };
  EXPECT_EQ(take("invoice.pdf"), "invoice.pdf");
  EXPECT_EQ(take("invoice.pdf"), "invoice (2).pdf");
  EXPECT_EQ(take("invoice (3).pdf"), "invoice (3).pdf");
  EXPECT_EQ(take("invoice.pdf"), "invoice (4).pdf");
  EXPECT_EQ(take(".profile"), ".profile");
  EXPECT_EQ(take(".profile"), ".profile (2)");
  EXPECT_EQ(names.Propose("", ".eml"), ".eml");
  names.Take(".eml");
  EXPECT_EQ(names.Propose("", ".eml"), " (2).eml");
  EXPECT_EQ(take("README"), "README");
  EXPECT_EQ(take("README"), "README (2)");
  EXPECT_EQ(take("a.tar.gz"), "a.tar.gz");
  EXPECT_EQ(take("a.tar.gz"), "a.tar (2).gz");
  // A proposal not taken (its save failed) leaves the name free.
  EXPECT_EQ(names.Propose("x.txt"), "x.txt");
  EXPECT_EQ(names.Propose("x.txt"), "x.txt");
}

}  // namespace
}  // namespace mailsift

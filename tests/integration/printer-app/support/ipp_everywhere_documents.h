// SPDX-License-Identifier: GPL-2.0-or-later
// CUPS's IPP Everywhere conformance test (tests/integration/printer-app/
// ipp-everywhere/) in a scratch folder: the test files copied there, since
// ipptool looks for INCLUDE and FILE names beside the test file, the tests
// read from them, and the sample documents they send made there (README of
// that folder): the ones a Varkon printer takes by Ghostscript, the others
// as empty placeholders, which ipptool 2.4.2 wants to exist even for a test
// it skips.
//
//   copy_ipp_everywhere_tests(dir);
//   std::vector<IpptoolTest> tests = ipptool_tests(dir);
//   std::set<std::string> placeholders = make_sample_documents(dir, tests);
#pragma once

#include <set>
#include <string>
#include <vector>

namespace varkon::test {

// The three test files, ipp-everywhere.test first (it includes the others).
extern const char *const kIppEverywhereTestFiles[3];

// One test of an ipptool file: its NAME and the document its FILE names ("" for none).
struct IpptoolTest {
    std::string name;
    std::string file;
};

// Copies the test files from the source tree into `folder`.
void copy_ipp_everywhere_tests(const std::string &folder);

// The tests of the test files in `folder`, in the order of the files; FILE
// names made of variables ($filename) are left out.
std::vector<IpptoolTest> ipptool_tests(const std::string &folder);

// Makes every document the tests name in `folder` and returns the names of
// the empty placeholders among them.
std::set<std::string> make_sample_documents(const std::string &folder, const std::vector<IpptoolTest> &tests);

} // namespace varkon::test

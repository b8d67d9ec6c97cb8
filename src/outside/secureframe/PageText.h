#pragma once
// Pages are not run, only read: a frame shows a page's title and the text a
// person would see, which is what the page's tags, scripts and styles leave.
#include <string>

struct PageText {
    std::wstring title;   // of <title>
    std::wstring body;    // the other visible text, runs of white space as one space
};

PageText ExtractPageText(const std::wstring& html);

// Where a page named in a description or a load lies: a bare name is a file
// of the product's installed folder; a full path or URL is taken as given.
std::wstring ResolvePage(const std::wstring& page, const std::wstring& installedFolder);

// The text of a page file (UTF-8 or UTF-16 with its mark); false when the
// page cannot be read, which is always so for a network URL.
bool ReadPage(const std::wstring& location, std::wstring& html);

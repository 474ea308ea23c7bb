// Rndstr: the page pass. Sixteen tag rules in order, the watermark in front, the
// document type declaration first. Covered by tests/rndstr_test.cpp.
#include <string>
#include <vector>

#include "component/ascii.h"
#include "component/conversions.h"
#include "markup/declaration.h"
#include "markup/rewrite_tag.h"
#include "random/primitives.h"
#include "vantoro/marquel.h"

namespace vantoro {
namespace {

constexpr std::string_view kTagTable =
    "html:1,head:1,title:1,style:1:type,body:1,a:1:href;target,img:2:src;alt;border,br:2,"
    "table:1,tr:1,td:1,p:1,div:1:style;class,input:2,option:2,span:1:class";

constexpr std::string_view kWatermarkChars = "~`.,-_/\\|=+()[]{}^";
constexpr std::string_view kProductAddress = "https://vantoro.example";
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

// Every "*" stands for the one watermark character drawn per call.
std::string Watermark(std::string_view version_text, std::string_view mark) {
  std::string joined = "\r\n<!--*本*页*面*已*经*过*Vantoro*防*采*集* ";
  joined += kProductAddress;
  joined += " *处*理*-->\r\n<!--*Vantoro*防*采*集 ";
  joined += version_text;
  joined += "*-->\r\n";
  std::string out;
  out.reserve(joined.size() + 32);
  for (char c : joined) {
    if (c == '*') {
      out += mark;
    } else {
      out += c;
    }
  }
  return out;
}

// The working buffers of the page pass, kept per thread between calls: freeing
// and faulting in page-sized buffers on every call costs more than the pass's
// own scanning. Buffers above kKeepBytes are released after the call.
struct PassBuffers {
  std::string text;
  internal::TagIndex index;
  bool busy = false;
};

constexpr std::size_t kKeepBytes = 4 << 20;

class BorrowedBuffers {
 public:
  BorrowedBuffers() : buffers_(Cached().busy ? own_ : Cached()) { buffers_.busy = true; }
  ~BorrowedBuffers() {
    buffers_.busy = false;
    if (buffers_.text.capacity() > kKeepBytes) std::string().swap(buffers_.text);
    if (buffers_.index.scratch.capacity() > kKeepBytes) std::string().swap(buffers_.index.scratch);
    if (buffers_.index.unprotected.capacity() > kKeepBytes / sizeof(std::size_t)) {
      std::vector<std::size_t>().swap(buffers_.index.unprotected);
    }
  }
  BorrowedBuffers(const BorrowedBuffers&) = delete;
  BorrowedBuffers& operator=(const BorrowedBuffers&) = delete;
  PassBuffers* operator->() { return &buffers_; }

 private:
  static PassBuffers& Cached() {
    thread_local PassBuffers cached;
    return cached;
  }
  PassBuffers own_;  // when the cached ones are in use further up this thread
  PassBuffers& buffers_;
};

}  // namespace

std::string Marquel::PagePass(std::string_view page) const {
  static const Variant kRange("0-16");
  // A byte order mark only works as the very first bytes: keep it there.
  bool bom = page.starts_with(kByteOrderMark);
  if (bom) page.remove_prefix(kByteOrderMark.size());

  BorrowedBuffers buffers;
  std::string& text = buffers->text;
  internal::TagIndex& index = buffers->index;  // carried from rule to rule
  text.assign(page);
  index.stale = true;
  for (std::string_view rule : internal::Split(kTagTable, ',')) {
    text = internal::RewriteTag(std::move(text), rule, attr_names_, true, kRange, 3, kRange,
                                &index);
  }
  if (index.stale || index.has_nul) index.unprotected = internal::ScanUnprotected(text);
  std::string mark = internal::RandomChars(1, kWatermarkChars);
  // The watermark is two whole comments: no declaration in it, no region left
  // open, so the unprotected tags of the text stay what they are.
  return internal::JoinWithDeclarationFirst(bom ? kByteOrderMark : std::string_view(),
                                            Encoded(Watermark(version_text_, mark)), text,
                                            &index.unprotected);
}

std::string Marquel::process_page(std::string_view page) const { return PagePass(page); }

Variant Marquel::Rndstr(const Variant& str) const {
  return PagePass(internal::TextOrEmpty(str));
}

}  // namespace vantoro

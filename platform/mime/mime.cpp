// SPDX-License-Identifier: LGPL-2.1-or-later
// IMimeMessage and IMimeBody over GMime 3.
//
// A message is parsed once, from a file stream that the parser keeps: part
// contents stay in the file as byte ranges and are decoded only when a body is
// saved, so a message of any size costs little memory.
//
// Which leaves are the message's own text (and so not attachments): what a
// mail reader shows as the message. Starting at the top part,
//   - a text/plain or text/html leaf is the text, unless it is marked as an
//     attachment (disposition "attachment" or a file name);
//   - in multipart/alternative every alternative is followed (each is the same
//     text in another form);
//   - in any other multipart (mixed, related, signed, ...) only the first part
//     is followed: the rest hang off the text as attachments or inline parts;
//   - an attached message (message/rfc822) is never followed: it is one
//     attachment, saved as its own bytes.
// Every other leaf is listed by GetAttachments, including inline images and
// text parts further down a multipart/mixed; IsBodyType then tells which of
// them a user would call attachments.
#include "platform/mime/mime.h"

#include <fcntl.h>
#include <gmime/gmime.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/com/codepage.h"
#include "platform/com/memory.h"
#include "platform/mime/address_groups.h"
#include "platform/mime/header_charsets.h"
#include "platform/mime/message_files.h"
#include "platform/mime/mime_internal.h"
#include "platform/mime/parts.h"
#include "platform/mime/pread_stream.h"
#include "platform/mime/run_on_parts.h"
#include "platform/mime/top_headers.h"
#include "platform/shell/files.h"

namespace mime {
namespace {

void EnsureGMime() {
  // GMime's own init is reference-counted but not thread-safe; the library
  // stays up for the life of the process.
  static std::once_flag once;
  std::call_once(once, [] { g_mime_init(); });
}

struct GObjectUnref {
  void operator()(gpointer p) const {
    if (p) g_object_unref(p);
  }
};
template <class T>
using GPtr = std::unique_ptr<T, GObjectUnref>;

// Decoding reads the part in large slices: few system calls, and memory stays
// at a couple of these whatever the size of the part.
constexpr std::size_t kChunk = 1 << 20;

// "Content-Type: text" without a subtype, which MIME reads as text/plain:
// GMime takes a type it cannot read for application/octet-stream.
bool IsBareText(GMimeObject* obj) {
  GMimeContentType* ct = g_mime_object_get_content_type(obj);
  if (!ct || !g_mime_content_type_is_type(ct, "application", "octet-stream")) return false;
  GMimeHeader* header =
      g_mime_header_list_get_header(g_mime_object_get_header_list(obj), "Content-Type");
  const char* raw = header ? g_mime_header_get_raw_value(header) : nullptr;
  return raw && detail::BareTextAsPlain(raw).has_value();
}

// The charset parameter of the part's type, also of a bare "text" type.
std::string CharsetOf(GMimeObject* obj) {
  if (const char* charset = g_mime_object_get_content_type_parameter(obj, "charset"))
    return charset;
  if (!IsBareText(obj)) return {};
  GMimeHeader* header =
      g_mime_header_list_get_header(g_mime_object_get_header_list(obj), "Content-Type");
  const std::optional<std::string> plain =
      detail::BareTextAsPlain(g_mime_header_get_raw_value(header));
  GPtr<GMimeContentType> ct(g_mime_content_type_parse(nullptr, plain->c_str()));
  const char* charset = ct ? g_mime_content_type_get_parameter(ct.get(), "charset") : nullptr;
  return charset ? charset : "";
}

bool IsText(GMimeObject* obj) {
  GMimeContentType* ct = g_mime_object_get_content_type(obj);
  return ct && (g_mime_content_type_is_type(ct, "text", "plain") ||
                g_mime_content_type_is_type(ct, "text", "html") || IsBareText(obj));
}

bool HasAttachmentDisposition(GMimeObject* obj) {
  const char* d = g_mime_object_get_disposition(obj);
  return d && g_ascii_strcasecmp(d, GMIME_DISPOSITION_ATTACHMENT) == 0;
}

// The "name" parameter of a Content-Type that GMime could not read as a type
// ("application-x-gzip; name=x.gz", without the "/"): GMime then drops the
// parameters with the type, so they are read from the raw header here.
std::string NameOfUnreadableType(GMimeObject* obj) {
  GMimeContentType* ct = g_mime_object_get_content_type(obj);
  if (!ct || !g_mime_content_type_is_type(ct, "application", "octet-stream")) return {};
  GMimeHeader* header =
      g_mime_header_list_get_header(g_mime_object_get_header_list(obj), "Content-Type");
  const char* raw = header ? g_mime_header_get_raw_value(header) : nullptr;
  const char* params = raw ? std::strchr(raw, ';') : nullptr;
  if (!params) return {};
  GMimeParamList* list = g_mime_param_list_parse(nullptr, params + 1);
  if (!list) return {};
  GMimeParam* param = g_mime_param_list_get_parameter(list, "name");
  const char* value = param ? g_mime_param_get_value(param) : nullptr;
  std::string name = value ? value : "";
  g_object_unref(list);
  return name;
}

// Whether a header of the part labels text Latin-1 or ASCII.
bool HeaderHasLatin1Label(GMimeObject* obj, const char* name) {
  GMimeHeader* header = g_mime_header_list_get_header(g_mime_object_get_header_list(obj), name);
  const char* raw = header ? g_mime_header_get_raw_value(header) : nullptr;
  return raw && HasLatin1Label(raw);
}

std::string FileNameAsGiven(GMimeObject* obj);

// The file name the sender gave the part, decoded to UTF-8 by GMime, where a
// Latin-1 label reads as Windows-1252 (platform/com/codepage.h); or empty.
std::string RawFileName(GMimeObject* obj) {
  std::string name = FileNameAsGiven(obj);
  if (name.empty()) return name;
  if (HeaderHasLatin1Label(obj, "Content-Disposition") || HeaderHasLatin1Label(obj, "Content-Type"))
    return codepage::Latin1ReadAsWindows1252(name);
  return name;
}

std::string FileNameAsGiven(GMimeObject* obj) {
  const char* name = nullptr;
  if (GMIME_IS_PART(obj)) {
    name = g_mime_part_get_filename(GMIME_PART(obj));
  } else {
    name = g_mime_object_get_content_disposition_parameter(obj, "filename");
    if (!name) name = g_mime_object_get_content_type_parameter(obj, "name");
  }
  if (name && *name) return name;
  return NameOfUnreadableType(obj);
}

bool IsAttachment(GMimeObject* obj) {
  return HasAttachmentDisposition(obj) || !RawFileName(obj).empty() || !IsText(obj);
}

struct Node {
  GMimeObject* part;              // owned by the message tree
  GMimeObject* parent = nullptr;  // the multipart it stands in, if any
  bool text = false;              // part of the message's own text
};

// Marks the leaves that make up the message's own text (see the file comment).
void MarkText(GMimeObject* obj, std::vector<Node>& nodes) {
  // Nesting is bounded by the stack of leaves below, but a hostile message can
  // nest deeply: walk without recursion.
  std::vector<GMimeObject*> todo{obj};
  while (!todo.empty()) {
    GMimeObject* cur = todo.back();
    todo.pop_back();
    if (!cur) continue;
    if (GMIME_IS_MULTIPART(cur)) {
      GMimeMultipart* mp = GMIME_MULTIPART(cur);
      int count = g_mime_multipart_get_count(mp);
      if (count == 0) continue;
      GMimeContentType* ct = g_mime_object_get_content_type(cur);
      if (ct && g_mime_content_type_is_type(ct, "multipart", "alternative")) {
        for (int i = count - 1; i >= 0; --i) todo.push_back(g_mime_multipart_get_part(mp, i));
      } else {
        todo.push_back(g_mime_multipart_get_part(mp, 0));
      }
    } else if (GMIME_IS_PART(cur) && IsText(cur) && !HasAttachmentDisposition(cur) &&
               RawFileName(cur).empty()) {
      for (Node& n : nodes) {
        if (n.part == cur) n.text = true;
      }
    }
  }
}

std::vector<Node> CollectLeaves(GMimeObject* root) {
  std::vector<Node> leaves;
  std::vector<std::pair<GMimeObject*, GMimeObject*>> todo{{root, nullptr}};  // part, parent
  while (!todo.empty()) {
    auto [cur, parent] = todo.back();
    todo.pop_back();
    if (!cur) continue;
    if (GMIME_IS_MULTIPART(cur)) {
      GMimeMultipart* mp = GMIME_MULTIPART(cur);
      for (int i = g_mime_multipart_get_count(mp) - 1; i >= 0; --i) {
        todo.emplace_back(g_mime_multipart_get_part(mp, i), cur);
      }
    } else {
      leaves.push_back(Node{cur, parent});
    }
  }
  return leaves;
}

// "type/subtype" in lower case, or empty.
std::string TypeText(GMimeObject* obj) {
  GMimeContentType* ct = obj ? g_mime_object_get_content_type(obj) : nullptr;
  const char* type = ct ? g_mime_content_type_get_media_type(ct) : nullptr;
  const char* subtype = ct ? g_mime_content_type_get_media_subtype(ct) : nullptr;
  if (!type || !subtype) return {};
  std::string text = std::string(type) + "/" + subtype;
  for (char& c : text) c = g_ascii_tolower(c);
  return text;
}

// Appends the decoded content of a leaf to `out`, as long as `out` stays
// within `limit` bytes; a part that would pass it is left out.
void AppendDecoded(GMimePart* part, std::size_t limit, std::string* out) {
  GMimeDataWrapper* content = g_mime_part_get_content(part);
  GMimeStream* source = content ? g_mime_data_wrapper_get_stream(content) : nullptr;
  if (!source) return;
  const gint64 length = g_mime_stream_length(source);
  if (length < 0 || static_cast<std::uint64_t>(length) > limit - out->size()) return;
  GPtr<GMimeStream> memory(g_mime_stream_mem_new());
  if (g_mime_data_wrapper_write_to_stream(content, memory.get()) < 0) return;
  GByteArray* bytes = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(memory.get()));
  if (!bytes || bytes->len > limit - out->size()) return;
  out->append(reinterpret_cast<const char*>(bytes->data), bytes->len);
}

}  // namespace

// Decodes the content of a leaf part into `write`. Returns 0 or an errno value.
int detail::DecodePart(GMimePart* part, const ByteSink& write) {
  GMimeDataWrapper* content = g_mime_part_get_content(part);
  if (!content) return 0;
  GMimeStream* source = g_mime_data_wrapper_get_stream(content);
  if (!source) return 0;
  const GMimeContentEncoding encoding = g_mime_data_wrapper_get_encoding(content);
  // Base64 and quoted-printable are decoded with GMime's step functions
  // straight into a buffer of ours; uuencode goes through GMime's filter,
  // which also finds the "begin" line.
  const bool stepped = encoding == GMIME_CONTENT_ENCODING_BASE64 ||
                       encoding == GMIME_CONTENT_ENCODING_QUOTEDPRINTABLE;
  GMimeEncoding state;
  if (stepped) g_mime_encoding_init_decode(&state, encoding);
  GPtr<GMimeFilter> filter;
  if (encoding == GMIME_CONTENT_ENCODING_UUENCODE) {
    filter.reset(g_mime_filter_basic_new(encoding, FALSE));
  }
  if (g_mime_stream_reset(source) < 0) return errno ? errno : EIO;

  // The buffers stay with the thread: a folder export saves thousands of
  // parts, and fresh megabytes for each would be paid for in page faults.
  thread_local std::vector<char> input, output;
  if (input.size() < kChunk) input.resize(kChunk);

  // A bounded file stream answers a read at its end with an error (EINVAL),
  // not with 0: ask for the end first.
  while (!g_mime_stream_eos(source)) {
    ssize_t n = g_mime_stream_read(source, input.data(), input.size());
    if (n < 0) return errno ? errno : EIO;
    if (n == 0) break;
    const char* out = input.data();
    std::size_t outlen = static_cast<std::size_t>(n);
    if (stepped) {
      std::size_t need = g_mime_encoding_outlen(&state, outlen);
      if (output.size() < need) output.resize(need);
      outlen = g_mime_encoding_step(&state, input.data(), outlen, output.data());
      out = output.data();
    } else if (filter) {
      char* filtered = nullptr;
      std::size_t outprespace = 0;
      g_mime_filter_filter(filter.get(), input.data(), outlen, 0, &filtered, &outlen, &outprespace);
      out = filtered;
    }
    if (int err = write(out, outlen)) return err;
  }
  if (stepped) {
    std::size_t need = g_mime_encoding_outlen(&state, 0) + 16;
    if (output.size() < need) output.resize(need);
    std::size_t outlen = g_mime_encoding_flush(&state, input.data(), 0, output.data());
    if (int err = write(output.data(), outlen)) return err;
  } else if (filter) {
    char* filtered = nullptr;
    std::size_t outlen = 0, outprespace = 0;
    g_mime_filter_complete(filter.get(), input.data(), 0, 0, &filtered, &outlen, &outprespace);
    if (int err = write(filtered, outlen)) return err;
  }
  return 0;
}

namespace {

// Writes an attached message as it stands in the mail: GMime writes headers as
// they were received and contents as the byte ranges they were parsed from,
// with the line ends of the file the message came from.
int WriteMessagePart(GMimeMessagePart* part, bool crlf, int fd) {
  GMimeMessage* message = g_mime_message_part_get_message(part);
  if (!message) return 0;
  GPtr<GMimeStream> file(g_mime_stream_fs_new(fd));
  if (!file) return ENOMEM;
  g_mime_stream_fs_set_owner(GMIME_STREAM_FS(file.get()), FALSE);
  GPtr<GMimeStream> buffered(g_mime_stream_buffer_new(file.get(), GMIME_STREAM_BUFFER_BLOCK_WRITE));
  GMimeFormatOptions* options = g_mime_format_options_new();
  g_mime_format_options_set_newline_format(
      options, crlf ? GMIME_NEWLINE_FORMAT_DOS : GMIME_NEWLINE_FORMAT_UNIX);
  errno = 0;
  ssize_t written = g_mime_object_write_to_stream(GMIME_OBJECT(message), options, buffered.get());
  g_mime_format_options_free(options);
  if (written < 0 || g_mime_stream_flush(buffered.get()) < 0) {
    return errno ? errno : EIO;
  }
  return 0;
}

class Message final : public com::Object<IMimeMessage, IMimeMessageFiles> {
 public:
  // `file` is the stream the message was parsed from: it owns the descriptor
  // that every part's content reads through.
  // Both null for a message known without a parse to be one text part.
  // `cutShort`: GMime stopped before the end of the message and may have
  // dropped parts.
  Message(GMimeStream* file, GMimeMessage* message, bool crlf, bool cutShort)
      : file_(file), message_(message), crlf_(crlf) {
    if (!message_) return;
    if (GMimeObject* root = g_mime_message_get_mime_part(message_.get())) {
      root_ = root;
      // The parts as parsed first: their offsets count from the file.
      detail::RecoverRunOnBodies(root, file_.get());
      if (cutShort) detail::RecoverDroppedParts(root, file_.get());
      nodes_ = CollectLeaves(root);
      MarkText(root, nodes_);
    }
  }

  HRESULT GetAttachments(ULONG* pcAttach, HBODY** pprghAttach) override {
    if (!pcAttach || !pprghAttach) return E_INVALIDARG;
    *pcAttach = 0;
    *pprghAttach = nullptr;
    ULONG count = 0;
    for (const Node& n : nodes_) count += n.text ? 0 : 1;
    if (count == 0) return S_OK;
    auto* handles = static_cast<HBODY*>(CoTaskMemAlloc(count * sizeof(HBODY)));
    if (!handles) return E_OUTOFMEMORY;
    ULONG i = 0;
    for (Node& n : nodes_) {
      if (!n.text) handles[i++] = ToHandle(&n);
    }
    *pcAttach = count;
    *pprghAttach = handles;
    return S_OK;
  }

  HRESULT IsBodyType(HBODY hBody, IMSGBODYTYPE bodytype) override {
    Node* node = FromHandle(hBody);
    if (!node) return E_INVALIDARG;
    switch (bodytype) {
      case IBT_ATTACHMENT:
        return IsAttachment(node->part) ? S_OK : S_FALSE;
      case IBT_EMPTY:
        return IsEmpty(node->part) ? S_OK : S_FALSE;
      case IBT_SECURE:
        return S_FALSE;  // signed or encrypted parts are not taken apart here
    }
    return E_INVALIDARG;
  }

  HRESULT BindToObject(HBODY hBody, REFIID riid, void** ppvObject) override;

  HRESULT ListFiles(DWORD dwFlags, ULONG* pcFiles) override {
    if (!pcFiles) return E_INVALIDARG;
    *pcFiles = 0;
    if (!files_) files_ = std::make_unique<detail::FileList>(root_, crlf_);
    files_->Build(dwFlags);
    *pcFiles = static_cast<ULONG>(files_->size());
    return S_OK;
  }
  HRESULT GetFileInfo(ULONG iFile, MIMEFILEINFO* pInfo) override {
    if (!files_) return E_INVALIDARG;
    HRESULT hr = files_->Info(iFile, pInfo);
    if (FAILED(hr)) return hr;
    // A part of this message's own list (not of an attached message) has a handle.
    if (GMimeObject* part = files_->Part(iFile)) {
      for (Node& n : nodes_) {
        if (n.part == part) pInfo->hBody = ToHandle(&n);
      }
    }
    return hr;
  }
  HRESULT FreeFileInfo(MIMEFILEINFO* pInfo) override {
    if (!pInfo) return E_INVALIDARG;
    CoTaskMemFree(pInfo->pszType);
    CoTaskMemFree(pInfo->pszName);
    CoTaskMemFree(pInfo->pszContainer);
    CoTaskMemFree(pInfo->pszNote);
    pInfo->pszType = pInfo->pszName = pInfo->pszContainer = pInfo->pszNote = nullptr;
    return S_OK;
  }
  HRESULT SaveFile(ULONG iFile, LPCSTR pszFilePath) override {
    if (!files_) return E_INVALIDARG;
    return files_->Save(iFile, pszFilePath);
  }

  HRESULT GetTextBody(DWORD dwTxtType, LPSTR* ppszText) override {
    if (!ppszText) return E_INVALIDARG;
    *ppszText = nullptr;
    const char* wanted = dwTxtType == TXT_PLAIN  ? "plain"
                         : dwTxtType == TXT_HTML ? "html"
                                                 : nullptr;
    if (!wanted) return E_INVALIDARG;
    std::string text;
    std::size_t read = 0;  // bytes decoded, before any conversion
    bool found = false;
    for (const Node& n : nodes_) {
      GMimeContentType* ct = g_mime_object_get_content_type(n.part);
      const bool kind = ct && (g_mime_content_type_is_type(ct, "text", wanted) ||
                               (dwTxtType == TXT_PLAIN && IsBareText(n.part)));
      if (!GMIME_IS_PART(n.part) || !kind || HasAttachmentDisposition(n.part) ||
          !RawFileName(n.part).empty())
        continue;
      found = true;
      std::string part;
      AppendDecoded(GMIME_PART(n.part), kMaxTextBody - read, &part);
      read += part.size();
      // Text labelled Latin-1 or ASCII is Windows-1252 where the two differ
      // (codepage.h), and its superset where they do not: UTF-8 either way.
      const std::string charset = CharsetOf(n.part);
      if (codepage::IsLatin1OrAsciiLabel(charset)) part = codepage::Windows1252ToUtf8(part);
      text += part;
    }
    if (!found) return S_FALSE;
    *ppszText = com::CoTaskStrDup(text.c_str(), text.size());
    return *ppszText ? S_OK : E_OUTOFMEMORY;
  }

  bool crlf() const { return crlf_; }

 private:
  static HBODY ToHandle(Node* node) { return reinterpret_cast<HBODY>(node); }

  // The node behind a handle, or null for a handle that is not one of ours.
  Node* FromHandle(HBODY handle) {
    if (nodes_.empty()) return nullptr;
    auto address = reinterpret_cast<std::uintptr_t>(handle);
    auto first = reinterpret_cast<std::uintptr_t>(nodes_.data());
    if (address < first) return nullptr;
    std::uintptr_t offset = address - first;
    if (offset % sizeof(Node) != 0 || offset / sizeof(Node) >= nodes_.size()) return nullptr;
    return &nodes_[offset / sizeof(Node)];
  }

  static bool IsEmpty(GMimeObject* part) {
    if (GMIME_IS_MESSAGE_PART(part)) {
      return g_mime_message_part_get_message(GMIME_MESSAGE_PART(part)) == nullptr;
    }
    if (!GMIME_IS_PART(part)) return true;
    GMimeDataWrapper* content = g_mime_part_get_content(GMIME_PART(part));
    GMimeStream* stream = content ? g_mime_data_wrapper_get_stream(content) : nullptr;
    return !stream || g_mime_stream_length(stream) <= 0;
  }

  GPtr<GMimeStream> file_;
  GPtr<GMimeMessage> message_;
  bool crlf_;                                // the file's lines end in CR LF
  GMimeObject* root_ = nullptr;              // the message's top part, in `message_`
  std::unique_ptr<detail::FileList> files_;  // made by the first ListFiles
  std::vector<Node> nodes_;  // never resized after construction: handles point into it
};

class Body final : public com::Object<IMimeBody> {
 public:
  Body(com::ComPtr<Message> message, GMimeObject* part, GMimeObject* parent)
      : message_(std::move(message)), part_(part), parent_(parent) {}

  HRESULT GetDisplayName(LPSTR* ppszDisplay) override;
  HRESULT SaveToFile(ENCODINGTYPE ietEncoding, LPCSTR pszFilePath) override;
  HRESULT GetPropText(LPCSTR pszName, LPSTR* ppszValue) override;

 private:
  std::string DisplayName() const;

  com::ComPtr<Message> message_;  // keeps the tree that `part_` lives in
  GMimeObject* part_;
  GMimeObject* parent_;
};

HRESULT Message::BindToObject(HBODY hBody, REFIID riid, void** ppvObject) {
  if (!ppvObject) return E_INVALIDARG;
  *ppvObject = nullptr;
  Node* node = FromHandle(hBody);
  if (!node) return E_INVALIDARG;
  if (riid != IID_IMimeBody && riid != IID_IUnknown) return E_NOINTERFACE;
  auto body = com::MakeObject<Body>(com::ComPtr<Message>(this), node->part, node->parent);
  if (!body) return E_OUTOFMEMORY;
  return body->QueryInterface(riid, ppvObject);
}

std::string Body::DisplayName() const {
  return detail::PartDisplayName(part_);
}

}  // namespace

std::string detail::PartDisplayName(GMimeObject* part) {
  std::string name;
  if (std::string raw = RawFileName(part); !raw.empty()) name = detail::SanitizeFileName(raw);
  if (!name.empty()) return name;

  if (GMIME_IS_MESSAGE_PART(part)) {
    GMimeMessage* inner = g_mime_message_part_get_message(GMIME_MESSAGE_PART(part));
    const char* subject = inner ? g_mime_message_get_subject(inner) : nullptr;
    // A subject is not a path: its "/" and "\" are kept apart, not cut at.
    std::string title = subject ? subject : "";
    std::replace(title.begin(), title.end(), '/', '_');
    std::replace(title.begin(), title.end(), '\\', '_');
    std::string base = detail::SanitizeFileName(title);
    if (base.empty()) return "message.eml";
    base = detail::CutUtf8(base, detail::kMaxNameBytes - 4);
    return base + ".eml";
  }
  if (IsBareText(part)) return detail::GeneratedName("text", "plain");
  GMimeContentType* ct = g_mime_object_get_content_type(part);
  const char* type = ct ? g_mime_content_type_get_media_type(ct) : nullptr;
  const char* subtype = ct ? g_mime_content_type_get_media_subtype(ct) : nullptr;
  return detail::GeneratedName(type ? type : "application", subtype ? subtype : "octet-stream");
}

namespace {

HRESULT Body::GetDisplayName(LPSTR* ppszDisplay) {
  if (!ppszDisplay) return E_INVALIDARG;
  std::string name = DisplayName();
  *ppszDisplay = com::CoTaskStrDup(name.c_str(), name.size());
  return *ppszDisplay ? S_OK : E_OUTOFMEMORY;
}

HRESULT Body::GetPropText(LPCSTR pszName, LPSTR* ppszValue) {
  if (!pszName || !ppszValue) return E_INVALIDARG;
  *ppszValue = nullptr;
  std::string value;
  if (g_ascii_strcasecmp(pszName, "Content-Type") == 0) {
    value = TypeText(part_);
  } else if (g_ascii_strcasecmp(pszName, "par:Content-Type") == 0) {
    value = TypeText(parent_);
  } else if (g_ascii_strcasecmp(pszName, "Content-Disposition") == 0) {
    const char* d = g_mime_object_get_disposition(part_);
    value = d ? d : "";
    for (char& c : value) c = g_ascii_tolower(c);
  } else if (g_ascii_strcasecmp(pszName, "Content-ID") == 0) {
    // GMime gives the id without its angle brackets.
    const char* id = g_mime_object_get_content_id(part_);
    value = id ? id : "";
  } else {
    return E_INVALIDARG;
  }
  if (value.empty()) return S_FALSE;
  *ppszValue = com::CoTaskStrDup(value.c_str(), value.size());
  return *ppszValue ? S_OK : E_OUTOFMEMORY;
}

HRESULT Body::SaveToFile(ENCODINGTYPE ietEncoding, LPCSTR pszFilePath) {
  if (ietEncoding != IET_BINARY) return E_INVALIDARG;
  return detail::SavePart(part_, message_->crlf(), pszFilePath);
}

}  // namespace

HRESULT detail::SavePart(GMimeObject* part, bool crlf, const char* path) {
  return SaveToPath(path, [&](int fd) {
    if (GMIME_IS_MESSAGE_PART(part)) return WriteMessagePart(GMIME_MESSAGE_PART(part), crlf, fd);
    if (GMIME_IS_PART(part)) {
      return DecodePart(GMIME_PART(part), [fd](const char* data, std::size_t size) {
        return files::WriteAll(fd, data, size);
      });
    }
    return 0;
  });
}

HRESULT detail::SaveToPath(const char* pszFilePath, const std::function<int(int fd)>& write) {
  if (!pszFilePath || !*pszFilePath) return E_INVALIDARG;

  // No link is followed, and nothing but a plain file is written to: a FIFO
  // would block us, a device is not what anyone exports attachments to.
  files::UniqueFd fd(::open(
      pszFilePath, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0666));
  if (!fd) return com::HResultFromErrno(errno == ELOOP ? EACCES : errno);
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return E_ACCESSDENIED;
  ::fcntl(fd.get(), F_SETFL, ::fcntl(fd.get(), F_GETFL) & ~O_NONBLOCK);

  int err = write(fd.get());
  if (int closed = fd.Close(); err == 0) err = closed;
  if (err != 0) {
    // A partly written file would pass for the whole attachment.
    ::unlink(pszFilePath);
    return com::HResultFromErrno(err) == E_FAIL ? STG_E_WRITEFAULT : com::HResultFromErrno(err);
  }
  return S_OK;
}

std::vector<GMimeObject*> detail::AttachmentLeaves(GMimeObject* root) {
  std::vector<Node> nodes = CollectLeaves(root);
  MarkText(root, nodes);
  std::vector<GMimeObject*> out;
  for (const Node& n : nodes) {
    if (!n.text && IsAttachment(n.part)) out.push_back(n.part);
  }
  return out;
}

namespace {

// Parses a message; `cutShort` tells whether GMime stopped before its end
// (a truncated or malformed message: it may have dropped parts).
GMimeMessage* Parse(GMimeStream* stream, bool* cutShort) {
  GPtr<GMimeParser> parser(g_mime_parser_new_with_stream(stream));
  // Part contents stay in the stream as byte ranges of it.
  g_mime_parser_set_persist_stream(parser.get(), TRUE);
  g_mime_parser_set_format(parser.get(), GMIME_FORMAT_MESSAGE);
  *cutShort = false;
  GMimeParserOptions* options = g_mime_parser_options_new();
  g_mime_parser_options_set_warning_callback(
      options,
      [](gint64, GMimeParserWarning warning, const gchar*, gpointer flag) {
        if (warning == GMIME_WARN_TRUNCATED_MESSAGE || warning == GMIME_WARN_MALFORMED_MESSAGE)
          *static_cast<bool*>(flag) = true;
      },
      cutShort);
  GMimeMessage* message = g_mime_parser_construct_message(parser.get(), options);
  g_mime_parser_options_free(options);
  return message;
}

// Reads all that `stream` shows into `out`. Returns 0 or an errno value.
int ReadWhole(GMimeStream* stream, std::string* out) {
  out->clear();
  if (g_mime_stream_reset(stream) < 0) return EIO;
  char buf[65536];
  while (!g_mime_stream_eos(stream)) {
    ssize_t n = g_mime_stream_read(stream, buf, sizeof buf);
    if (n < 0) return errno ? errno : EIO;
    if (n == 0) break;
    out->append(buf, static_cast<std::size_t>(n));
  }
  return 0;
}

}  // namespace

namespace {

HRESULT ParseStream(GPtr<GMimeStream> stream, bool crlf, IMimeMessage** out);

HRESULT Open(const char* path, bool headerOnly, IMimeMessage** out) {
  if (!path || !out) return E_INVALIDARG;
  *out = nullptr;
  EnsureGMime();

  int fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return com::HResultFromErrno(errno);

  // A message that is one text part has no attachment: its header block
  // tells, and the parse is not needed. This comes first, before the checks
  // below: a single text message costs its open, one read and its close (a
  // directory or a FIFO fails the read and is refused below).
  std::string head;
  if (headerOnly && detail::ReadTopHeaderBlock(fd, &head) && detail::IsSingleTextPart(head)) {
    ::close(fd);
    auto object = com::MakeObject<Message>(nullptr, nullptr, false, false);
    if (!object) return E_OUTOFMEMORY;
    *out = object.Detach();
    return S_OK;
  }

  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    int err = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    ::close(fd);
    return com::HResultFromErrno(err);
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);

  // Mail is stored with LF or with CR LF line ends; the first line tells which.
  bool crlf = false;
  {
    char page[4096];
    char before = 0;
    ssize_t n;
    for (off_t at = 0; (n = ::pread(fd, page, sizeof page, at)) > 0; at += n) {
      const char* lf = static_cast<const char*>(std::memchr(page, '\n', n));
      if (!lf) {
        before = page[n - 1];
        continue;
      }
      crlf = (lf > page ? lf[-1] : before) == '\r';
      break;
    }
  }

  // Our own stream: GMime's file streams seek before every read, and the
  // parser reads a few kilobytes at a time.
  GPtr<GMimeStream> stream(detail::NewPreadStream(fd, st.st_size));  // owns fd from here
  return ParseStream(std::move(stream), crlf, out);
}

// Parses the message that `stream` shows (which it takes over).
HRESULT ParseStream(GPtr<GMimeStream> stream, bool crlf, IMimeMessage** out) {
  // GMime parses a message's address headers as it builds the message, with
  // one level of recursion per address group: the parse stops short of a
  // header that nests too deep, and such a message is parsed again from a
  // copy with those headers flattened.
  DeepAddressScanner scanner;
  detail::GuardAddressHeaders(stream.get(), &scanner);
  bool cutShort = false;
  GPtr<GMimeMessage> message(Parse(stream.get(), &cutShort));
  detail::GuardAddressHeaders(stream.get(), nullptr);
  if (scanner.found()) {
    message.reset();
    std::string text;
    if (int err = ReadWhole(stream.get(), &text)) return com::HResultFromErrno(err);
    text = FlattenDeepAddressHeaders(text);
    stream.reset(g_mime_stream_mem_new_with_buffer(text.data(), text.size()));
    if (!stream) return E_OUTOFMEMORY;
    message.reset(Parse(stream.get(), &cutShort));
  }
  if (!message) {
    // Not even a header block: take the whole file as the text of a message.
    message.reset(g_mime_message_new(TRUE));
    if (!message) return E_OUTOFMEMORY;
    GPtr<GMimeStream> whole(
        g_mime_stream_substream(stream.get(), 0, g_mime_stream_length(stream.get())));
    GPtr<GMimeDataWrapper> content(
        g_mime_data_wrapper_new_with_stream(whole.get(), GMIME_CONTENT_ENCODING_DEFAULT));
    GPtr<GMimeTextPart> text(g_mime_text_part_new());
    g_mime_part_set_content(GMIME_PART(text.get()), content.get());
    g_mime_message_set_mime_part(message.get(), GMIME_OBJECT(text.get()));
  }
  // Part contents are streams that share the file's descriptor without owning
  // it, so the owning stream lives as long as the message.
  auto object = com::MakeObject<Message>(stream.release(), message.release(), crlf, cutShort);
  if (!object) return E_OUTOFMEMORY;
  *out = object.Detach();
  return S_OK;
}

GMimeStream* SliceStream(int fd, const FileSlice& slice) {
  return detail::NewSliceStream(fd, slice.offset, slice.length, slice.omitted.data(),
                                slice.omitted.size());
}

bool ValidSlice(int fd, const FileSlice& slice) {
  struct stat st {};
  if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return false;
  if (slice.offset < 0 || slice.length < 0 || slice.offset + slice.length > st.st_size)
    return false;
  std::int64_t last = slice.offset - 1;
  for (std::int64_t at : slice.omitted) {
    if (at <= last || at >= slice.offset + slice.length) return false;
    last = at;
  }
  return true;
}

// A read-only IStream over a slice.
class SliceStreamObject final : public com::PlainStream {
 public:
  explicit SliceStreamObject(GMimeStream* stream) : stream_(stream) {}
  HRESULT Read(void* pv, ULONG cb, ULONG* pcbRead) override {
    if (pcbRead) *pcbRead = 0;
    if (!pv && cb) return STG_E_INVALIDPOINTER;
    ULONG done = 0;
    while (done < cb && !g_mime_stream_eos(stream_.get())) {
      ssize_t n = g_mime_stream_read(stream_.get(), static_cast<char*>(pv) + done, cb - done);
      if (n < 0) return STG_E_READFAULT;
      if (n == 0) break;
      done += static_cast<ULONG>(n);
    }
    if (pcbRead) *pcbRead = done;
    return S_OK;
  }
  HRESULT Write(const void*, ULONG, ULONG* written) override {
    if (written) *written = 0;
    return STG_E_ACCESSDENIED;
  }
  HRESULT Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* pos) override {
    GMimeSeekWhence whence = origin == STREAM_SEEK_SET   ? GMIME_STREAM_SEEK_SET
                             : origin == STREAM_SEEK_CUR ? GMIME_STREAM_SEEK_CUR
                                                         : GMIME_STREAM_SEEK_END;
    if (origin > STREAM_SEEK_END) return STG_E_INVALIDFUNCTION;
    gint64 at = g_mime_stream_seek(stream_.get(), move.QuadPart, whence);
    if (at < 0) return STG_E_INVALIDFUNCTION;
    if (pos) pos->QuadPart = static_cast<ULONGLONG>(at);
    return S_OK;
  }
  HRESULT SetSize(ULARGE_INTEGER) override { return STG_E_ACCESSDENIED; }
  HRESULT Stat(STATSTG* st, DWORD) override {
    if (!st) return STG_E_INVALIDPOINTER;
    std::memset(st, 0, sizeof *st);
    st->type = STGTY_STREAM;
    st->cbSize.QuadPart = static_cast<ULONGLONG>(g_mime_stream_length(stream_.get()));
    return S_OK;
  }

 private:
  GPtr<GMimeStream> stream_;
};

}  // namespace

HRESULT OpenMessageFile(const char* path, IMimeMessage** out) {
  return Open(path, true, out);
}

HRESULT detail::ParseMessageFile(const char* path, IMimeMessage** out) {
  return Open(path, false, out);
}

HRESULT OpenMessageSlice(int fd, const FileSlice& slice, IMimeMessage** out) {
  if (!out) {
    if (fd >= 0) ::close(fd);
    return E_INVALIDARG;
  }
  *out = nullptr;
  if (!ValidSlice(fd, slice)) {
    if (fd >= 0) ::close(fd);
    return E_INVALIDARG;
  }
  EnsureGMime();
  GPtr<GMimeStream> stream(SliceStream(fd, slice));  // owns fd from here
  auto read = [&](char* buf, std::size_t len, std::size_t at) -> long {
    if (g_mime_stream_seek(stream.get(), static_cast<gint64>(at), GMIME_STREAM_SEEK_SET) < 0)
      return 0;
    return static_cast<long>(g_mime_stream_read(stream.get(), buf, len));
  };
  std::string head;
  const bool block = detail::ReadTopHeaderBlock(read, &head);
  if (block && detail::IsSingleTextPart(head)) {
    auto object = com::MakeObject<Message>(nullptr, nullptr, false, false);
    if (!object) return E_OUTOFMEMORY;
    *out = object.Detach();
    return S_OK;
  }
  // Mail is stored with LF or with CR LF line ends; the first line tells which.
  char page[4096];
  long n = read(page, sizeof page, 0);
  const char* lf = n > 0 ? static_cast<const char*>(std::memchr(page, '\n', n)) : nullptr;
  const bool crlf = lf && lf > page && lf[-1] == '\r';
  g_mime_stream_reset(stream.get());
  return ParseStream(std::move(stream), crlf, out);
}

HRESULT OpenSliceStream(int fd, const FileSlice& slice, IStream** out) {
  if (!out || !ValidSlice(fd, slice)) {
    if (fd >= 0) ::close(fd);
    return E_INVALIDARG;
  }
  *out = nullptr;
  EnsureGMime();
  auto object = com::MakeObject<SliceStreamObject>(SliceStream(fd, slice));
  if (!object) return E_OUTOFMEMORY;
  *out = object.Detach();
  return S_OK;
}

}  // namespace mime

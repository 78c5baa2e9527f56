// SPDX-License-Identifier: LGPL-2.1-or-later
// The MIME layer: a parsed message (IMimeMessage) and its parts (IMimeBody).
// Only the members this system uses are declared.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/com/stream.h"
#include "platform/com/unknown.h"

// Names one part of one parsed message; valid while that message lives.
using HBODY = struct HBODY__*;

enum IMSGBODYTYPE : DWORD {
  IBT_SECURE = 0,
  IBT_ATTACHMENT = 1,
  IBT_EMPTY = 2,
};

enum ENCODINGTYPE : DWORD {
  IET_BINARY = 0,  // the decoded content
};

struct IMimeBody : IUnknown {
  static constexpr IID iid = com::Guid("{C558834C-7F86-11D0-8252-00C04FD85AB4}");
  using Base = IUnknown;
  // A plain file name (never empty, ".", ".." or with a directory part), UTF-8,
  // in task memory (CoTaskMemFree).
  virtual HRESULT GetDisplayName(LPSTR* ppszDisplay) = 0;
  // Writes the decoded content to `pszFilePath`, replacing a file that is there
  // (and never following a symbolic link at that path).
  virtual HRESULT SaveToFile(ENCODINGTYPE ietEncoding, LPCSTR pszFilePath) = 0;
  // One fact of the part as UTF-8 text in task memory (CoTaskMemFree):
  //   "Content-Type"        media type and subtype, lower case ("image/png")
  //   "Content-Disposition" the disposition, lower case ("inline", "attachment")
  //   "Content-ID"          the id without its angle brackets
  //   "par:Content-Type"    the type of the multipart the part stands in
  //                         ("multipart/related"); absent at the top
  // S_FALSE (and null) when the part has none; E_INVALIDARG for another name.
  virtual HRESULT GetPropText(LPCSTR pszName, LPSTR* ppszValue) = 0;
};

// GetTextBody's kinds of text.
constexpr DWORD TXT_PLAIN = 1;
constexpr DWORD TXT_HTML = 2;

struct IMimeMessage : IUnknown {
  static constexpr IID iid = com::Guid("{FD853CD5-7F86-11D0-8252-00C04FD85AB4}");
  using Base = IUnknown;
  // Every leaf part except the message's own text body, in walk order; the
  // array is in task memory (CoTaskMemFree), null when the count is 0.
  // The text body is what a mail reader shows as the message: the text/plain
  // or text/html leaf at the top, every such alternative of a
  // multipart/alternative, and in any other multipart only its first part's
  // text; a leaf with a file name or disposition "attachment" is never body
  // text. An attached message (message/rfc822) is one leaf.
  virtual HRESULT GetAttachments(ULONG* pcAttach, HBODY** pprghAttach) = 0;
  // S_OK when the part is of that type, S_FALSE when not, E_INVALIDARG for a
  // handle that is not one of this message's. IBT_ATTACHMENT: disposition
  // "attachment", a file name, or a type other than text/plain and text/html.
  virtual HRESULT IsBodyType(HBODY hBody, IMSGBODYTYPE bodytype) = 0;
  virtual HRESULT BindToObject(HBODY hBody, REFIID riid, void** ppvObject) = 0;
  // The decoded text of every leaf of that kind (TXT_PLAIN: text/plain,
  // TXT_HTML: text/html) that is no attachment (no file name, no disposition
  // "attachment"), joined in walk order, in task memory (CoTaskMemFree). At
  // most kMaxTextBody bytes are read from a message. S_FALSE (and null)
  // when it has none. Text is as decoded, except that a part labelled Latin-1
  // or ASCII comes as UTF-8, read as Windows-1252 (platform/com/codepage.h).
  virtual HRESULT GetTextBody(DWORD dwTxtType, LPSTR* ppszText) = 0;
  static constexpr std::size_t kMaxTextBody = 16u << 20;
};

// What IMimeMessageFiles::ListFiles opens besides the message's own parts.
constexpr DWORD MIMEFILES_NESTED = 0x1;       // attached messages, to kMaxNestedDepth
constexpr DWORD MIMEFILES_UNPACK_TNEF = 0x2;  // winmail.dat parts: the files inside

// MIMEFILEINFO::dwFlags.
constexpr DWORD MIMEFILE_FROM_TNEF = 0x1;   // a file packed inside a winmail.dat
constexpr DWORD MIMEFILE_IN_MESSAGE = 0x2;  // a file of an attached message
constexpr DWORD MIMEFILE_TNEF_KEPT = 0x4;   // a winmail.dat left whole (pszNote says why)

struct MIMEFILEINFO {
  DWORD cbSize;         // set by the caller: sizeof(MIMEFILEINFO)
  DWORD dwDepth;        // 0 for the message's own parts; each attached message adds 1
  DWORD dwFlags;        // MIMEFILE_*
  FILETIME ftModified;  // when the sender's program tells (winmail.dat); else zero
  // The part's handle when the file is one of GetAttachments' parts; else null.
  HBODY hBody;
  // In task memory (CoTaskMemFree, or FreeFileInfo for all four):
  LPSTR pszType;       // "type/subtype" in lower case, when known; else null
  LPSTR pszName;       // a plain file name, as IMimeBody::GetDisplayName gives
  LPSTR pszContainer;  // what the file was packed in, outermost first, joined
                       // by " / " (the attached message's subject, "winmail.dat");
                       // null for a part of the message itself
  LPSTR pszNote;       // why a winmail.dat was left whole; else null
};

// The files of a message as a person opens them: the parts that the
// attachment walk of IMimeMessage confirms, in its order, and on request the
// files packed inside them. Answered by every IMimeMessage of this layer.
struct IMimeMessageFiles : IUnknown {
  static constexpr IID iid = com::Guid("{204565C9-FB55-4FF6-AAF7-D7878D76DF27}");
  using Base = IUnknown;
  // Makes the list with `dwFlags` (MIMEFILES_*), replacing an earlier one.
  // Without flags it is the attachment walk itself. An attached message stays
  // in the list (as its .eml) with its files after it; a winmail.dat that
  // unpacks is replaced by its files, one that does not stays, with a note.
  virtual HRESULT ListFiles(DWORD dwFlags, ULONG* pcFiles) = 0;
  // E_INVALIDARG for a position beyond the list or a wrong cbSize.
  virtual HRESULT GetFileInfo(ULONG iFile, MIMEFILEINFO* pInfo) = 0;
  virtual HRESULT FreeFileInfo(MIMEFILEINFO* pInfo) = 0;
  // Writes the file's content to `pszFilePath` as IMimeBody::SaveToFile does.
  virtual HRESULT SaveFile(ULONG iFile, LPCSTR pszFilePath) = 0;
};

constexpr IID IID_IMimeMessage = IMimeMessage::iid;
constexpr IID IID_IMimeBody = IMimeBody::iid;
constexpr IID IID_IMimeMessageFiles = IMimeMessageFiles::iid;

namespace mime {
// A message that is a part of a larger file (a message of an mbox file): the
// bytes [offset, offset + length), less the single bytes at the file offsets
// `omitted` (ascending, inside the range).
struct FileSlice {
  std::int64_t offset = 0, length = 0;
  std::vector<std::int64_t> omitted;
};

// Parses the message in `slice` of the file open at `fd`, which the message
// takes over (closed when it is released, or at once on failure); it reads
// the file as it needs it, as OpenMessageFile does.
HRESULT OpenMessageSlice(int fd, const FileSlice& slice, IMimeMessage** out);

// A read-only stream of the bytes of `slice` (takes over `fd` as above).
HRESULT OpenSliceStream(int fd, const FileSlice& slice, IStream** out);

// Parses the message file at `path` (UTF-8). The message reads the file as it
// needs it rather than holding it in memory, so it keeps the file open while
// it lives. E_INVALIDARG for a null argument; the errno-mapped HRESULT when the
// file cannot be opened; a file that is not MIME still parses (as one text part).
HRESULT OpenMessageFile(const char* path, IMimeMessage** out);

// How deep ListFiles goes into messages attached to messages.
constexpr DWORD kMaxNestedDepth = 8;

namespace detail {
// OpenMessageFile without its shortcut for messages whose header block shows
// one text part: always the full parse, for tests that compare the two.
HRESULT ParseMessageFile(const char* path, IMimeMessage** out);
}  // namespace detail
}  // namespace mime

// SPDX-License-Identifier: LGPL-2.1-or-later
#include "extractor/options_export.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstring>
#include <ctime>
#include <functional>
#include <map>
#include <memory>
#include <set>

#include "extractor/control_advice.h"
#include "extractor/csv_report.h"
#include "extractor/export_filters.h"
#include "extractor/export_record.h"
#include "extractor/file_identity.h"
#include "extractor/folder_selection.h"
#include "extractor/store_folders.h"
#include "extractor/unique_names.h"
#include "platform/activation/activation.h"
#include "platform/com/memory.h"
#include "platform/mime/mime.h"
#include "platform/shell/files.h"
#include "platform/store/store.h"

namespace mailsift {
namespace {

constexpr char kRecordName[] = ".mailsift-exported";
// The header block of a message is read this far for its From: line.
constexpr std::size_t kHeaderBytes = 64 << 10;
// A 16-bit count says the real count modulo 65,536.
constexpr long kCountWrap = 65536;

std::string Reason(int error) {
  return files::ErrorWords(error);
}

struct TaskString {
  LPSTR text = nullptr;
  ~TaskString() { CoTaskMemFree(text); }
  std::string value() const { return text ? text : ""; }
};

// An open file descriptor, closed when it goes.
class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  Fd(Fd&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  Fd& operator=(Fd&& other) noexcept {
    std::swap(fd_, other.fd_);
    return *this;
  }
  ~Fd() {
    if (fd_ >= 0) close(fd_);
  }
  int get() const { return fd_; }

 private:
  int fd_;
};

std::time_t UnixTime(const FILETIME& ft) {
  const std::uint64_t ticks =
      (static_cast<std::uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
  constexpr std::uint64_t kEpoch = 116444736000000000ULL;  // 1970 in 100 ns since 1601
  if (ticks <= kEpoch) return 0;
  return static_cast<std::time_t>((ticks - kEpoch) / 10000000ULL);
}

std::string IsoTime(std::time_t t) {
  if (t == 0) return {};
  std::tm tm{};
  gmtime_r(&t, &tm);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &tm);
  return text;
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// The From: field of a header block, unfolded, or empty.
std::string FromField(std::string_view header) {
  std::string value;
  bool in = false;
  std::size_t at = 0;
  while (at < header.size()) {
    std::size_t end = header.find('\n', at);
    end = end == std::string_view::npos ? header.size() : end + 1;
    std::string_view line = header.substr(at, end - at);
    at = end;
    if (line == "\n" || line == "\r\n") break;
    if (line.front() == ' ' || line.front() == '\t') {
      if (in) value += line;
      continue;
    }
    if (in) break;
    in = line.size() > 5 && Lower(std::string(line.substr(0, 5))) == "from:";
    if (in) value = line.substr(5);
  }
  return value;
}

// What one message is, for the filters, the report and the record.
struct Message {
  long index = 0;
  MESSAGEID id = 0;
  MessageFacts facts;
  std::string messageId;
  std::string folderPath;
  std::string key;       // for the record; empty unless --new-only
  bool partial = false;  // only part of it is on this computer
};

class OptionsExport {
 public:
  OptionsExport(const CMailquarry& mq, const OptionsExportRequest& request, Progress& progress)
      : mq_(mq), r_(request), o_(request.options), progress_(progress) {}

  ExportOutcome Run();

 private:
  void OpenStore();
  void OpenTarget(long total);
  void LoadRecord();
  void ExportFolder(const ChosenFolder& chosen, long* done, long total);
  bool ReadMessage(IStoreFolder& folder, Message* m);
  std::string ReadText(IStoreFolder& folder, MESSAGEID id, std::size_t limit);
  // One file an attachment export may write: what it is, where it came from
  // (a winmail.dat, an attached message) and how it is saved.
  struct Candidate {
    PartFacts part;
    std::string container, note;
    std::function<HRESULT(const char* path)> save;
  };
  std::vector<Candidate> Candidates(IMimeMessage& message);
  bool ExportAttachments(IStoreFolder& folder, const Message& m, const std::string& dir);
  bool ExportEml(const Message& m, const std::string& dir);
  bool ExportReturnAddress(const Message& m);
  int DirectoryFd(const std::string& dir);
  std::string PathOf(const std::string& dir, const std::string& name) const {
    return dir.empty() ? name : dir + "/" + name;
  }
  void Failed(const std::string& name, const std::string& reason, ReportRow row);
  void Report(ReportRow row, const Message& m);
  void SetTime(int dirFd, const std::string& name, const Message& m);

  const CMailquarry& mq_;
  const OptionsExportRequest& r_;
  const ExportOptions& o_;
  Progress& progress_;
  ExportOutcome outcome_;
  std::vector<StoreFolder> folders_;
  com::ComPtr<IStoreNamespace> store_;
  Fd target_;
  std::string stagingName_;
  Fd staging_;
  long staged_ = 0;
  std::map<std::string, Fd> directories_;
  std::map<std::string, UniqueNames> names_;
  CsvReport report_;
  bool useRecord_ = false;
  ExportRecord record_;
  std::string recordPath_;
  DuplicateFinder duplicates_;
  std::set<std::string> addresses_;
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> text_{nullptr, &std::fclose};
};

void OptionsExport::OpenStore() {
  if (FAILED(ReadStoreFolders(&folders_))) throw FileError("The mail store could not be opened");
  HRESULT hr = com::CreateInstance(CLSID_StoreNamespace, &store_);
  if (SUCCEEDED(hr)) hr = store_->Initialize(nullptr, 0);
  if (FAILED(hr)) throw FileError("The mail store could not be opened (" + HResultHex(hr) + ")");
}

void OptionsExport::OpenTarget(long total) {
  outcome_.total = total;
  if (r_.kind == MessageExport::kReturnAddresses) {
    text_.reset(std::fopen(r_.target.c_str(), "ab"));
    if (!text_)
      throw FileError("Cannot open \"" + r_.target + "\" for appending: " + Reason(errno));
    return;
  }
  target_ = Fd(open(r_.target.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (target_.get() < 0)
    throw FileError("Cannot open the directory \"" + r_.target + "\": " + Reason(errno));
  if (r_.kind == MessageExport::kAttachments) {
    std::string pattern = r_.target + "/.mailsift-XXXXXX";
    if (!mkdtemp(pattern.data()))
      throw FileError("Cannot write into \"" + r_.target + "\": " + Reason(errno));
    stagingName_ = pattern.substr(pattern.rfind('/') + 1);
    staging_ = Fd(openat(target_.get(), stagingName_.c_str(),
                         O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  }
}

void OptionsExport::LoadRecord() {
  recordPath_ = RecordPathFor(r_.kind, r_.target);
  std::string problem;
  switch (record_.Load(recordPath_, &problem)) {
    case ExportRecord::Loaded::kUnusable:
      outcome_.notices.push_back("The record of earlier exports \"" + recordPath_ +
                                 "\" could not be used (" + problem +
                                 "); it was left as it is, and every message was exported.");
      return;
    case ExportRecord::Loaded::kAbsent:
    case ExportRecord::Loaded::kRead:
      useRecord_ = true;
      if (o_.skipDuplicates)
        for (const ExportRecord::File& f : record_.Files())
          duplicates_.AddRecorded(f.size, f.sha256, f.path);
      return;
  }
}

int OptionsExport::DirectoryFd(const std::string& dir) {
  if (dir.empty()) return target_.get();
  auto found = directories_.find(dir);
  if (found != directories_.end()) return found->second.get();
  // Each level is made and opened without following a link, so that
  // nothing is written outside the target.
  int parent = target_.get();
  std::string made;
  std::size_t start = 0;
  while (start <= dir.size()) {
    std::size_t slash = dir.find('/', start);
    if (slash == std::string::npos) slash = dir.size();
    const std::string part = dir.substr(start, slash - start);
    made = made.empty() ? part : made + "/" + part;
    start = slash + 1;
    auto known = directories_.find(made);
    if (known != directories_.end()) {
      parent = known->second.get();
      continue;
    }
    if (mkdirat(parent, part.c_str(), 0777) != 0 && errno != EEXIST) return -errno;
    Fd fd(openat(parent, part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (fd.get() < 0) return -(errno == ELOOP ? EACCES : errno);
    parent = fd.get();
    directories_.emplace(made, std::move(fd));
  }
  return parent;
}

std::string OptionsExport::ReadText(IStoreFolder& folder, MESSAGEID id, std::size_t limit) {
  com::ComPtr<IStream> stream;
  if (FAILED(folder.OpenMessage(id, IID_IStream, stream.ReleaseAndGetVoidAddress())) || !stream)
    return {};
  std::string text;
  char buffer[1 << 16];
  while (text.size() < limit) {
    ULONG read = 0;
    if (FAILED(stream->Read(buffer, sizeof buffer, &read)) || read == 0) break;
    text.append(buffer, read);
  }
  return text;
}

bool OptionsExport::ReadMessage(IStoreFolder& folder, Message* m) {
  MESSAGEPROPS props{};
  props.cbSize = MESSAGEPROPS_SIZE;
  if (FAILED(folder.GetMessageProps(m->id, 0, &props))) return false;
  m->facts.sent = UnixTime(props.ftSent);
  if (m->facts.sent == 0) m->facts.sent = UnixTime(props.ftReceived);
  m->facts.subject = props.pszSubject ? props.pszSubject : "";
  m->facts.sender = props.pszDisplayFrom ? props.pszDisplayFrom : "";
  m->facts.hasAttachments = (props.dwFlags & MSG_FLAG_ATTACHMENT) != 0;
  m->partial = (props.dwFlags & MSG_FLAG_PARTIAL) != 0;
  m->messageId = props.pszMessageId ? props.pszMessageId : "";
  folder.FreeMessageProps(&props);
  // The name shown may leave out the address: the header has both.
  if (!o_.from.empty()) m->facts.sender += "\n" + FromField(ReadText(folder, m->id, kHeaderBytes));
  return true;
}

void OptionsExport::Report(ReportRow row, const Message& m) {
  if (row.outcome == "written")
    ++outcome_.written;
  else if (row.outcome == "duplicate")
    ++outcome_.duplicates;
  else if (row.outcome == "left out")
    ++outcome_.leftOut;
  if (!report_.IsOpen()) return;
  row.folder = m.folderPath;
  row.date = IsoTime(m.facts.sent);
  const std::size_t newline = m.facts.sender.find('\n');
  row.sender = m.facts.sender.substr(0, newline);
  row.subject = m.facts.subject;
  row.messageId = m.messageId;
  if (m.partial) row.partial = "yes";
  report_.Add(row);
}

void OptionsExport::Failed(const std::string& name, const std::string& reason, ReportRow row) {
  outcome_.Fail(Quoted(name), reason);
  row.outcome = "failed";
  row.detail = reason;
  if (report_.IsOpen()) report_.Add(row);
}

void OptionsExport::SetTime(int dirFd, const std::string& name, const Message& m) {
  if (!o_.setTimes || m.facts.sent == 0) return;
  const timespec times[2] = {{m.facts.sent, 0}, {m.facts.sent, 0}};
  utimensat(dirFd, name.c_str(), times, AT_SYMLINK_NOFOLLOW);
}

std::vector<OptionsExport::Candidate> OptionsExport::Candidates(IMimeMessage& message) {
  std::vector<Candidate> out;
  // What a part of the message's own list tells of itself.
  auto facts = [](IMimeBody& body, PartFacts* part) {
    TaskString name, type, disposition, id, parent;
    if (FAILED(body.GetDisplayName(&name.text)) || !name.text) return false;
    body.GetPropText("Content-Type", &type.text);
    body.GetPropText("Content-Disposition", &disposition.text);
    body.GetPropText("Content-ID", &id.text);
    body.GetPropText("par:Content-Type", &parent.text);
    *part = {name.value(), type.value(), disposition.value(), id.value(), parent.value()};
    return true;
  };
  com::ComPtr<IMimeMessageFiles> files;
  const DWORD flags =
      (o_.unpackWinmail ? MIMEFILES_UNPACK_TNEF : 0) | (o_.nested ? MIMEFILES_NESTED : 0);
  ULONG count = 0;
  if (flags &&
      SUCCEEDED(message.QueryInterface(IID_IMimeMessageFiles, files.ReleaseAndGetVoidAddress())) &&
      SUCCEEDED(files->ListFiles(flags, &count))) {
    // The message's files with those packed in winmail.dat parts and
    // attached messages, each with where it came from.
    for (ULONG i = 0; i < count; ++i) {
      MIMEFILEINFO info{};
      info.cbSize = sizeof info;
      if (FAILED(files->GetFileInfo(i, &info))) continue;
      Candidate c;
      com::ComPtr<IMimeBody> body;
      if (!info.hBody ||
          FAILED(
              message.BindToObject(info.hBody, IID_IMimeBody, body.ReleaseAndGetVoidAddress())) ||
          !facts(*body, &c.part)) {
        c.part.name = info.pszName ? info.pszName : "";
        c.part.type = info.pszType ? info.pszType : "";
      }
      c.container = info.pszContainer ? info.pszContainer : "";
      if (info.pszNote) c.note = std::string("kept whole: ") + info.pszNote;
      c.save = [files, i](const char* path) { return files->SaveFile(i, path); };
      files->FreeFileInfo(&info);
      if (!c.part.name.empty()) out.push_back(std::move(c));
    }
    return out;
  }
  ULONG parts = 0;
  HBODY* handles = nullptr;
  if (FAILED(message.GetAttachments(&parts, &handles))) return out;
  std::unique_ptr<HBODY, void (*)(void*)> owned(handles, &CoTaskMemFree);
  for (ULONG i = 0; i < parts; ++i) {
    if (message.IsBodyType(handles[i], IBT_ATTACHMENT) != S_OK) continue;
    com::ComPtr<IMimeBody> body;
    if (FAILED(message.BindToObject(handles[i], IID_IMimeBody, body.ReleaseAndGetVoidAddress())))
      continue;
    Candidate c;
    if (!facts(*body, &c.part)) continue;
    c.save = [body](const char* path) { return body->SaveToFile(IET_BINARY, path); };
    out.push_back(std::move(c));
  }
  return out;
}

bool OptionsExport::ExportAttachments(IStoreFolder& folder, const Message& m,
                                      const std::string& dir) {
  com::ComPtr<IMimeMessage> message;
  if (FAILED(folder.OpenMessage(m.id, IID_IMimeMessage, message.ReleaseAndGetVoidAddress())) ||
      !message)
    return true;  // a message that cannot be read has no attachments, as for the control
  std::set<std::string> references;
  if (o_.skipEmbedded) {
    TaskString html;
    if (message->GetTextBody(TXT_HTML, &html.text) == S_OK)
      references = CidReferences(html.value());
  }
  const int dirFd = DirectoryFd(dir);
  bool complete = true;
  std::vector<Candidate> candidates = Candidates(*message);
  // The report marks a partial message's rows; one without a file of its
  // own still gets its row, so that the report names every message that is
  // not whole here.
  if (candidates.empty() && m.partial) {
    ReportRow row;
    row.outcome = "partial";
    row.detail = "only part of the message is on this computer";
    Report(row, m);
  }
  for (Candidate& candidate : candidates) {
    const PartFacts& part = candidate.part;
    ReportRow row;
    row.name = part.name;
    row.container = candidate.container;
    row.detail = candidate.note;
    if (std::string why = LeftOutBeforeSaving(o_, part, references); !why.empty()) {
      row.outcome = "left out";
      row.detail = why;
      Report(row, m);
      continue;
    }
    if (dirFd < 0) {
      Failed(PathOf(dir, part.name), Reason(-dirFd), row);
      complete = false;
      continue;
    }
    const std::string staged = "p" + std::to_string(++staged_);
    const std::string stagedPath = r_.target + "/" + stagingName_ + "/" + staged;
    if (FAILED(candidate.save(stagedPath.c_str()))) {
      Failed(PathOf(dir, part.name),
             access(r_.target.c_str(), W_OK | X_OK) != 0 ? Reason(errno)
                                                         : "the attachment could not be read",
             row);
      complete = false;
      continue;
    }
    Fd file(openat(staging_.get(), staged.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    struct stat st {};
    if (file.get() < 0 || fstat(file.get(), &st) != 0) {
      Failed(PathOf(dir, part.name), Reason(errno), row);
      unlinkat(staging_.get(), staged.c_str(), 0);
      complete = false;
      continue;
    }
    const auto size = static_cast<std::uint64_t>(st.st_size);
    row.size = std::to_string(size);
    if (std::string why = LeftOutBySize(o_, size); !why.empty()) {
      unlinkat(staging_.get(), staged.c_str(), 0);
      row.outcome = "left out";
      row.detail = why;
      Report(row, m);
      continue;
    }
    const bool wantSha =
        report_.IsOpen() || useRecord_ || (o_.skipDuplicates && duplicates_.WantsSha256(size));
    const bool wantDigest = wantSha || o_.skipDuplicates;
    std::optional<FileDigest> digest;
    if (wantDigest) digest = DigestFile(file.get(), wantSha);
    file = Fd();
    if (wantDigest && !digest) {
      Failed(PathOf(dir, part.name), "it could not be read back", row);
      unlinkat(staging_.get(), staged.c_str(), 0);
      complete = false;
      continue;
    }
    if (digest) row.sha256 = digest->sha256;
    if (o_.skipDuplicates && duplicates_.MayHave(size)) {
      if (auto twin = duplicates_.Find(stagedPath, *digest)) {
        unlinkat(staging_.get(), staged.c_str(), 0);
        row.outcome = "duplicate";
        row.detail = *twin;
        Report(row, m);
        continue;
      }
    }
    UniqueNames& names = names_[dir];
    const std::string name = names.Propose(part.name);
    if (renameat(staging_.get(), staged.c_str(), dirFd, name.c_str()) != 0) {
      Failed(PathOf(dir, name), Reason(errno), row);
      unlinkat(staging_.get(), staged.c_str(), 0);
      complete = false;
      continue;
    }
    names.Take(name);
    SetTime(dirFd, name, m);
    const std::string shown = PathOf(dir, name);
    if (o_.skipDuplicates) duplicates_.Add(r_.target + "/" + shown, shown, *digest);
    if (useRecord_) record_.AddFile(size, digest->sha256, shown);
    row.outcome = "written";
    row.path = shown;
    Report(row, m);
    progress_.Wrote(r_.target + "/" + shown);
  }
  return complete;
}

bool OptionsExport::ExportEml(const Message& m, const std::string& dir) {
  // The control's subject, as the export without options names the file.
  const std::string controlSubject = mq_.Messages().FindSubject(m.index);
  ReportRow row;
  row.name = controlSubject + ".eml";
  if (controlSubject.find('/') != std::string::npos ||
      controlSubject.find('\0') != std::string::npos) {
    Failed(controlSubject + ".eml", "the subject names another directory", row);
    return false;
  }
  const int dirFd = DirectoryFd(dir);
  if (dirFd < 0) {
    Failed(PathOf(dir, controlSubject + ".eml"), Reason(-dirFd), row);
    return false;
  }
  UniqueNames& names = names_[dir];
  const std::string name = names.Propose(controlSubject, ".eml");
  const std::string shown = PathOf(dir, name);
  const std::string path = r_.target + "/" + shown;
  if (!mq_.Messages().Save2eml(m.index, path)) {
    Failed(shown,
           access(path.substr(0, path.rfind('/')).c_str(), W_OK | X_OK) != 0
               ? Reason(errno)
               : "the message could not be read",
           row);
    return false;
  }
  names.Take(name);
  SetTime(dirFd, name, m);
  if (report_.IsOpen()) {
    Fd file(openat(dirFd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (auto digest = file.get() >= 0 ? DigestFile(file.get(), true) : std::nullopt) {
      row.size = std::to_string(digest->size);
      row.sha256 = digest->sha256;
    }
  }
  row.outcome = "written";
  row.path = shown;
  Report(row, m);
  progress_.Wrote(path);
  return true;
}

bool OptionsExport::ExportReturnAddress(const Message& m) {
  const std::string address = mq_.Messages().FindReturnEmail(m.index);
  if (address.empty()) return true;
  if (o_.unique && !addresses_.insert(Lower(address)).second) {
    ++outcome_.duplicates;
    return true;
  }
  std::fwrite(address.data(), 1, address.size(), text_.get());
  std::fwrite("\r\n", 1, 2, text_.get());
  ++outcome_.written;
  return true;
}

void OptionsExport::ExportFolder(const ChosenFolder& chosen, long* done, long total) {
  const StoreFolder& f = folders_[chosen.position];
  // The control's folder index is 16-bit: a later position would select another folder.
  if (chosen.position > SHRT_MAX) {
    Failed(f.path, "the control counts folders up to " + std::to_string(SHRT_MAX), ReportRow{});
    return;
  }
  mq_.SetFolder(chosen.position);
  // The real count, also past what the 16-bit Count can say.
  long count = static_cast<unsigned short>(mq_.Messages().Count());
  while (mq_.Messages().FindMessageID(count) != 0) count += kCountWrap;
  com::ComPtr<IStoreFolder> folder;
  if (FAILED(store_->OpenFolder(f.id, 0, folder.ReleaseAndGetAddressOf()))) {
    Failed(f.path, "the folder could not be opened", ReportRow{});
    return;
  }
  long passed = 0;
  for (long i = 0; i < count; ++i) {
    if (r_.first > 0 && passed >= r_.first) break;
    if (!progress_.Continue(std::min(*done, total), total)) {
      outcome_.cancelled = true;
      return;
    }
    ++*done;
    outcome_.processed = std::min(*done, total);
    Message m;
    m.index = i;
    m.id = static_cast<MESSAGEID>(mq_.Messages().FindMessageID(i));
    m.folderPath = f.path;
    if (m.id == 0 || !ReadMessage(*folder, &m)) continue;
    if (!PassesMessageFilters(o_, m.facts)) continue;
    ++passed;
    if (useRecord_) {
      m.key = MessageKey(m.messageId, ReadText(*folder, m.id, SIZE_MAX));
      if (record_.Has(m.key)) {
        ++outcome_.exportedBefore;
        continue;
      }
    }
    if (m.partial) ++outcome_.partial;
    bool complete = true;
    switch (r_.kind) {
      case MessageExport::kAttachments:
        complete = ExportAttachments(*folder, m, chosen.directory);
        break;
      case MessageExport::kEml:
        complete = ExportEml(m, chosen.directory);
        break;
      case MessageExport::kReturnAddresses:
        complete = ExportReturnAddress(m);
        break;
    }
    if (useRecord_ && complete) record_.AddMessage(m.key);
  }
}

ExportOutcome OptionsExport::Run() {
  OpenStore();
  const std::vector<ChosenFolder> chosen = ChooseFolders(folders_, r_.folder, o_);
  long total = 0;
  for (const ChosenFolder& c : chosen) {
    const long messages = static_cast<long>(folders_[c.position].messages);
    total += r_.first > 0 ? std::min(messages, r_.first) : messages;
  }
  // The report first: when it cannot be written nothing else is.
  if (!o_.report.empty()) report_.Open(o_.report);
  OpenTarget(total);
  if (o_.newOnly) LoadRecord();
  long done = 0;
  try {
    for (const ChosenFolder& c : chosen) {
      ExportFolder(c, &done, total);
      if (outcome_.cancelled) break;
    }
  } catch (...) {
    if (!stagingName_.empty()) unlinkat(target_.get(), stagingName_.c_str(), AT_REMOVEDIR);
    throw;
  }
  if (!outcome_.cancelled) outcome_.processed = outcome_.total = std::max(done, total);
  if (!stagingName_.empty()) unlinkat(target_.get(), stagingName_.c_str(), AT_REMOVEDIR);
  if (text_) {
    const bool bad = std::ferror(text_.get()) != 0 || std::fclose(text_.release()) != 0;
    if (bad) throw FileError("Cannot write \"" + r_.target + "\": " + Reason(errno ? errno : EIO));
  }
  report_.Close();
  std::vector<StoreFolder> exported;
  for (const ChosenFolder& c : chosen) exported.push_back(folders_[c.position]);
  if (std::string missing = NotOnThisComputer(exported); !missing.empty())
    outcome_.notices.push_back(missing);
  // The record lists only what is in place by now.
  if (useRecord_)
    if (std::string error = record_.Save(recordPath_); !error.empty())
      outcome_.notices.push_back("The record of this export " + error);
  return outcome_;
}

}  // namespace

std::string RecordPathFor(MessageExport kind, const std::string& target) {
  if (kind != MessageExport::kReturnAddresses) return target + "/" + kRecordName;
  const std::size_t slash = target.rfind('/');
  const std::string dir = slash == std::string::npos ? "" : target.substr(0, slash + 1);
  const std::string file = slash == std::string::npos ? target : target.substr(slash + 1);
  return dir + "." + file + kRecordName + "";
}

ExportOutcome ExportWithOptions(const CMailquarry& mq, const OptionsExportRequest& request,
                                Progress& progress) {
  OptionsExport run(mq, request, progress);
  return run.Run();
}

}  // namespace mailsift

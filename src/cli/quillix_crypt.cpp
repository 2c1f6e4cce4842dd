#include "cli/quillix_crypt.h"

#include "cli/terminal.h"
#include "common/unique_fd.h"
#include "container/container_file.h"
#include "container/file_crypto.h"
#include "container/file_ops.h"
#include "container/strong_format.h"
#include "crypto/secure.h"
#include "workers/ordered_run.h"

#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <iostream>
#include <sstream>
#include <thread>
#include <vector>

namespace quillix::cli {
namespace {

constexpr const char* kUsage = R"(Usage: quillix-crypt COMMAND [OPTIONS] FILE...

Encrypts and decrypts pictures the way the Quillix gallery does: photo.jpg becomes $photo.jpg
in the same folder, and the file left behind is securely overwritten and deleted.

Commands:
  encrypt [OPTIONS] FILE...  in place: FILE becomes "$"FILE, FILE is securely deleted
  decrypt [OPTIONS] FILE...  in place: "$"FILE becomes FILE, the container is securely deleted
  cat [OPTIONS] FILE         decrypt in memory and write the plain bytes to standard output;
                             nothing is written to disk
  verify [OPTIONS] FILE...   check each container (header and MAC):
                             "FILE: OK" or "FILE: FAILED: <reason>"
  info FILE...               one line per file with its container header, or
                             "FILE: not a container"

Options:
  -p, --password-file FILE   the password is the first line of FILE, without its line end
                             ("-": standard input); without it the password is asked on the
                             terminal without echo. Blanks and control characters around it
                             are trimmed.
  -c, --cipher NAME  the format of new containers: aes, blowfish, chacha20, twofish or
                     strong (see Formats)       default: the EncryptionAlg setting
  --fast | --no-fast                            default: the Fast setting
  --filename-pw | --no-filename-pw              default: the FileNamePW setting
  --max-mib N      encrypt the first N MiB, 0 = the whole file    default: the mxb setting
                   (--fast, --filename-pw and --max-mib do not apply to strong)
  --passes N       overwrite passes of the secure delete, 0 to 35; 0 deletes without
                   overwriting                                    default: the passes setting
  --settings FILE  the Quillix.ini to read the defaults from
  -j, --jobs N     files worked on at once (encrypt, decrypt, verify); their results come in
                   the order the files were given                 default: the number of cores
  -h, --help, --version

Formats:
  strong     Argon2id derives the key (3 passes over 64 MiB) and XChaCha20-Poly1305 encrypts
             and authenticates the whole file in chunks of 64 KiB, the header included. The
             file name is not part of the key: a renamed container still opens. Only Quillix
             reads this format. Choose it unless other programs must open the files.
  aes, blowfish, chacha20, twofish
             the compatible format that other programs read: PBKDF2-HMAC-SHA-256 and the
             cipher's keystream restarted every 8192 bytes, with an HMAC-SHA-256 over the
             file. Its key depends on the file name when --filename-pw is on, its fast mode
             allows at most 50 salts per password, and --max-mib leaves the rest plain.
  Every command reads both formats: each container is known by its header, whatever -c says.
  To move files from one format to the other, decrypt them, then encrypt them with -c strong.

While encrypt, decrypt or verify work through their files and standard error is a terminal,
one line there shows how far they have come.

A wrong password and a damaged container cannot be told apart: both fail the one MAC check
("wrong password or damaged file"). A decryption or encryption that fails leaves every file
as it was. An existing file of the result's name is never replaced ("... already exists"),
unless it holds exactly the result: then an interrupted run is finished. Running a killed
command again is safe, and it also removes what the killed run left in the folder. A file
that another program has open for writing is refused ("in use by another program"), and one
that another program opens for writing during the work is kept as it is and its new result
removed: a copy would miss what that program writes.

Exit status: 0 when every file succeeded (a file already in the wanted state counts as
success; a file with other hard links loses only its name, which is told on standard error);
1 when one or more failed, including a source that could not be securely deleted (each
reported on standard error with its reason; the others are still processed); 2 for a usage
error or an unreadable password file.
)";

constexpr std::pair<const char*, int> kCiphers[] = {
    {"aes", 0}, {"blowfish", 1}, {"chacha20", 2}, {"twofish", 3}, {"strong", 4}};

struct Invocation {
    std::string command;
    std::vector<std::string> files;
    std::optional<std::string> passwordFile;
    std::optional<int> cipher;
    std::optional<bool> fast;
    std::optional<bool> fileNamePW;
    std::optional<int> maxMib;
    std::optional<int> passes;
    std::optional<std::string> settingsFile;
    std::optional<int> jobs;
};

struct UsageError {
    std::string message;
};

std::optional<int> ParseCount(const std::string& text, int max)
{
    int value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || value < 0 || value > max) return std::nullopt;
    return value;
}

// Parses everything after the command; options may come before or between the files.
std::variant<Invocation, UsageError> Parse(std::span<const std::string> args)
{
    Invocation inv;
    inv.command = args.front();
    bool optionsEnded = false;
    for (std::size_t i = 1; i < args.size(); ++i) {
        std::string arg = args[i];
        if (optionsEnded || arg.empty() || arg[0] != '-' || arg == "-") {
            inv.files.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        std::optional<std::string> inlineValue;
        if (const std::size_t eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string::npos) {
            inlineValue = arg.substr(eq + 1);
            arg.resize(eq);
        }
        static const char* const kWithValue[] = {"-p",        "--password-file", "--settings", "-c",    "--cipher",
                                                 "--max-mib", "--passes",        "-j",         "--jobs"};
        std::string value;
        if (std::find(std::begin(kWithValue), std::end(kWithValue), arg) != std::end(kWithValue)) {
            if (inlineValue)
                value = *inlineValue;
            else if (i + 1 < args.size())
                value = args[++i];
            else
                return UsageError{"option " + arg + " needs a value"};
        } else if (inlineValue) {
            return UsageError{"option " + arg + " takes no value"};
        }

        if (arg == "--fast" || arg == "--no-fast") {
            inv.fast = arg == "--fast";
        } else if (arg == "--filename-pw" || arg == "--no-filename-pw") {
            inv.fileNamePW = arg == "--filename-pw";
        } else if (arg == "-p" || arg == "--password-file") {
            inv.passwordFile = value;
        } else if (arg == "--settings") {
            inv.settingsFile = value;
        } else if (arg == "-c" || arg == "--cipher") {
            const auto* found =
                std::find_if(std::begin(kCiphers), std::end(kCiphers), [&](const auto& c) { return value == c.first; });
            if (found == std::end(kCiphers)) return UsageError{"unknown cipher '" + value + "'"};
            inv.cipher = found->second;
        } else if (arg == "-j" || arg == "--jobs") {
            const std::optional<int> n = ParseCount(value, 1024);
            if (!n || *n == 0) return UsageError{"bad number for " + arg + ": '" + value + "'"};
            inv.jobs = *n;
        } else if (arg == "--passes") {
            const std::optional<int> n = ParseCount(value, container::kMaxPasses);
            if (!n)
                return UsageError{"--passes takes 0 to " + std::to_string(container::kMaxPasses) +
                                  " (0: delete without overwriting), not '" + value + "'"};
            inv.passes = *n;
        } else if (arg == "--max-mib") {
            // mxb × 1024 KiB must stay a 32-bit number of KiB, as the settings file keeps it.
            const std::optional<int> n = ParseCount(value, 2'097'151);
            if (!n) return UsageError{"bad number for " + arg + ": '" + value + "'"};
            inv.maxMib = *n;
        } else {
            return UsageError{"unknown option '" + arg + "'"};
        }
    }
    return inv;
}

// Appends the first line of the file at `path`, without its line end, to `line`; nothing on
// success, else why the file cannot be read (a folder, say). A pipe is waited on, since
// "-p <(command)" names one.
std::optional<std::string> ReadFirstLine(const std::string& path, std::string& line)
{
    const UniqueFd fd = OpenFile(path, O_RDONLY);
    if (!fd) return std::string(std::strerror(errno));
    char c = 0;
    for (;;) {
        const ssize_t n = ::read(fd.get(), &c, 1);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            crypto::SecureWipe(line);
            return std::string(std::strerror(errno));
        }
        if (n == 0 || c == '\n') return std::nullopt;
        line += c;
    }
}

// Password from a file's first line, or asked on the terminal (twice before encrypting, since a
// typo there would lock the pictures away).
std::variant<std::string, UsageError> ObtainPassword(const Invocation& inv, const Environment& env)
{
    std::string raw;
    if (inv.passwordFile) {
        if (*inv.passwordFile == "-") {
            if (!env.in || !std::getline(*env.in, raw)) return UsageError{"no password on standard input"};
        } else if (const std::optional<std::string> error = ReadFirstLine(*inv.passwordFile, raw)) {
            return UsageError{"cannot read password file " + *inv.passwordFile + ": " + *error};
        }
        if (!raw.empty() && raw.back() == '\r') raw.pop_back();
    } else {
        std::optional<std::string> typed = env.askTerminal ? env.askTerminal("Password: ") : std::nullopt;
        if (!typed) return UsageError{"no terminal to ask the password on; use --password-file"};
        raw = std::move(*typed);
        if (inv.command == "encrypt") {
            std::optional<std::string> again = env.askTerminal("Repeat password: ");
            const bool same = again && container::TrimPassword(*again) == container::TrimPassword(raw);
            if (again) crypto::SecureWipe(*again);
            if (!same) {
                crypto::SecureWipe(raw);
                return UsageError{"the passwords differ"};
            }
        }
    }
    std::string password = container::TrimPassword(raw);
    crypto::SecureWipe(raw);
    if (password.empty()) return UsageError{"the password is empty"};
    return password;
}

bool Exists(const std::string& path)
{
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

// A container may be named by its own name or by its plain name while only "$"name exists.
std::string ContainerNamed(const std::string& file)
{
    const std::string name = FileNameOf(file);
    if (name.empty() || name.front() == '$' || Exists(file)) return file;
    const std::string dollar = FolderOf(file) + "$" + name;
    return Exists(dollar) ? dollar : file;
}

// The file an in-place command works on: the name given, or while that does not exist the
// other form of it, so that running a command again after it was interrupted, or on a file
// already in the wanted state, finds that file and has nothing left to do.
std::string WorkedOn(const std::string& file)
{
    const std::string name = FileNameOf(file);
    if (name.empty() || Exists(file)) return file;
    if (name.front() != '$') return ContainerNamed(file);
    const std::string plain = FolderOf(file) + name.substr(1);
    return name.size() > 1 && Exists(plain) ? plain : file;
}

// A message box's text on one line.
std::string OneLine(std::string text)
{
    for (std::size_t at; (at = text.find("\n\n")) != std::string::npos;)
        text.replace(at, 2, " ");
    std::replace(text.begin(), text.end(), '\n', ' ');
    return text;
}

// What one file's work prints, kept until the files before it have printed theirs.
struct FileReport {
    std::string out;
    std::string err;
    bool failed = false;
};

// The one line on standard error that tells how far a run has come, when that is a terminal.
class ProgressLine {
public:
    ProgressLine(const Environment& env, std::string verb, std::size_t total)
        : env_(env), verb_(std::move(verb)), total_(total), shown_(env.progressOnErr)
    {
    }

    void Show(std::size_t done, const std::string& next)
    {
        if (!shown_) return;
        std::string line = verb_ + " " + std::to_string(done) + "/" + std::to_string(total_);
        if (!next.empty()) line += "  " + FileNameOf(next);
        const std::size_t width = env_.terminalWidth ? env_.terminalWidth() : 80;
        if (width > 1 && line.size() > width - 1) line.resize(width - 1);
        *env_.err << "\r\x1b[K" << line << std::flush;
    }
    void Clear()
    {
        if (shown_) *env_.err << "\r\x1b[K" << std::flush;
    }

private:
    const Environment& env_;
    std::string verb_;
    std::size_t total_;
    bool shown_;
};

// Runs `work` over `files` on `jobs` worker threads and prints each file's report in the order
// the files were given, as a run of one file after another would. The exit status.
int RunInOrder(const std::vector<std::string>& files, unsigned jobs, const std::string& verb,
               const std::function<FileReport(const std::string&)>& work, const Environment& env)
{
    workers::WorkerPool pool(jobs);
    workers::OrderedRun<FileReport> run(pool, workers::JobPriority::Batch, files.size(), jobs,
                                        [&files, &work](std::size_t i) { return work(files[i]); });
    ProgressLine progress(env, verb, files.size());
    progress.Show(0, files.front());
    int status = kExitOk;
    std::size_t done = 0;
    while (!run.Finished()) {
        for (const FileReport& report : run.WaitReady()) {
            ++done;
            if (!report.err.empty()) {
                progress.Clear();
                *env.err << report.err;
            }
            *env.out << report.out;
            if (report.failed) status = kExitFailed;
        }
        env.out->flush();
        progress.Show(done, done < files.size() ? files[done] : std::string());
    }
    progress.Clear();
    return status;
}

FileReport InPlaceFile(const std::string& given, bool encrypt, const container::FileOptions& options,
                       const std::string& password)
{
    FileReport report;
    const auto run = [&](const std::string& file) {
        return encrypt ? container::EncryptFileWith(file, password, options)
                       : container::DecryptFileWith(file, password, options);
    };
    std::string file = WorkedOn(given);
    container::CryptOutcome outcome = run(file);
    // Another run at work on the same picture can finish with the file chosen here before this
    // run opens it; the other form of the name then tells what is left to do. Each look follows
    // a name that has gone, so the picture has moved on between them.
    for (int look = 0; look < 3 && !outcome.ok() && !Exists(file); ++look) {
        const std::string now = WorkedOn(given);
        if (now == file) break;
        file = now;
        outcome = run(file);
    }
    if (!outcome.ok()) {
        report.err = given + ": " + FailureReason(outcome.error) + "\n";
        report.failed = true;
        return report;
    }
    // Other links that still hold the source are told but are no failure; a source that could
    // not be wiped is.
    if (!outcome.warning.empty()) report.err = given + ": " + OneLine(outcome.warning) + "\n";
    if (outcome.path != file && !outcome.result.wipe.ok()) report.failed = true;
    return report;
}

int InPlace(const Invocation& inv, unsigned jobs, const container::FileOptions& options, const std::string& password,
            const Environment& env)
{
    const bool encrypt = inv.command == "encrypt";
    return RunInOrder(
        inv.files, jobs, encrypt ? "encrypting" : "decrypting",
        [&](const std::string& given) { return InPlaceFile(given, encrypt, options, password); }, env);
}

int Verify(const Invocation& inv, unsigned jobs, const container::FileOptions& options, const std::string& password,
           const Environment& env)
{
    return RunInOrder(
        inv.files, jobs, "verifying",
        [&](const std::string& given) {
            FileReport report;
            const Result<void> checked =
                container::VerifyContainerFile(ContainerNamed(given), password, options.FileNamePW);
            if (checked) {
                report.out = given + ": OK\n";
            } else {
                report.out = given + ": FAILED: " + FailureReason(checked.error()) + "\n";
                report.failed = true;
            }
            return report;
        },
        env);
}

int Cat(const Invocation& inv, const container::FileOptions& options, const std::string& password,
        const Environment& env)
{
    const std::string& given = inv.files.front();
    // A strong container streams through in one pass; each piece is wiped once written.
    Result<void> plain = container::DecryptContainerTo(
        ContainerNamed(given), password, options.FileNamePW, [&env](std::span<const std::uint8_t> piece) {
            if (*env.out)
                env.out->write(reinterpret_cast<const char*>(piece.data()), static_cast<std::streamsize>(piece.size()));
            return true;
        });
    if (!plain) {
        env.out->flush();
        *env.err << given << ": " << FailureReason(plain.error()) << "\n";
        return kExitFailed;
    }
    env.out->flush();
    if (!*env.out) {
        *env.err << given << ": cannot write to standard output\n";
        return kExitFailed;
    }
    return kExitOk;
}

int Info(std::span<const std::string> files, const Environment& env)
{
    int status = kExitOk;
    for (const std::string& file : files) {
        // Without blocking, so that a pipe is refused rather than waited on.
        const UniqueFd fd = OpenFile(file, O_RDONLY | O_NONBLOCK);
        struct stat st {};
        if (fd && (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode))) {
            *env.err << file << ": not a regular file\n";
            status = kExitFailed;
            continue;
        }
        container::HeaderBytes head{};
        const long long got = fd ? ReadAt(fd.get(), head, 0) : -1;
        if (got < 0) {
            *env.err << file << ": " << std::strerror(errno) << "\n";
            status = kExitFailed;
            continue;
        }
        const bool isStrong = got >= static_cast<long long>(container::kStrongHeaderSize) &&
                              container::IsStrongHead(std::span(head).first(static_cast<std::size_t>(got)));
        const bool isContainer = got == static_cast<long long>(head.size()) &&
                                 std::equal(container::kMagic.begin(), container::kMagic.end(), head.begin());
        if (isStrong)
            *env.out << file << ": "
                     << container::StrongHeaderInfoText(std::span(head).first<container::kStrongHeaderSize>()) << "\n";
        else if (isContainer)
            *env.out << file << ": " << container::HeaderInfoText(head) << "\n";
        else
            *env.out << file << ": not a container\n";
    }
    return status;
}

container::FileOptions Apply(container::FileOptions options, const Invocation& inv)
{
    if (inv.cipher) options.EncryptionAlg = *inv.cipher;
    if (inv.fast) options.Fast = *inv.fast;
    if (inv.fileNamePW) options.FileNamePW = *inv.fileNamePW;
    if (inv.maxMib) options.MaxKiB = std::int64_t{*inv.maxMib} * 1024;
    if (inv.passes) options.Passes = *inv.passes;
    return options;
}

int Usage(const Environment& env, const std::string& message)
{
    *env.err << "quillix-crypt: " << message << " (see --help)\n";
    return kExitUsage;
}

}  // namespace

std::string FailureReason(const Error& error)
{
    switch (error.kind) {
    case ErrorKind::BadHeader:
        return error.message == "not a container" ? error.message : "bad header (" + error.message + ")";
    case ErrorKind::Truncated: return "not a container (" + error.message + ")";
    case ErrorKind::Changed: return "changed meanwhile, try again (" + error.message + ")";
    case ErrorKind::WrongPassword: return "wrong password or damaged file";
    case ErrorKind::Unsupported:
    case ErrorKind::Io:
    case ErrorKind::Exists:
    case ErrorKind::Cancelled: break;
    }
    return error.message;
}

int RunQuillixCrypt(std::span<const std::string> args, const Environment& env)
{
    if (args.empty()) {
        *env.err << kUsage;
        return kExitUsage;
    }
    const std::string& first = args.front();
    if (first == "--version") {
        *env.out << "quillix-crypt " << QUILLIX_VERSION << "\n";
        return kExitOk;
    }
    const bool help =
        first == "-h" || first == "--help" ||
        std::any_of(args.begin(), args.end(), [](const std::string& a) { return a == "-h" || a == "--help"; });

    std::variant<Invocation, UsageError> parsed = Parse(args);
    if (auto* error = std::get_if<UsageError>(&parsed); error && !help) return Usage(env, error->message);
    const Invocation* inv = std::get_if<Invocation>(&parsed);
    const std::string settingsFile = inv && inv->settingsFile ? *inv->settingsFile : std::string();
    if (help) {
        *env.out << kUsage << "\nDefaults are read from: " << env.loadDefaults(settingsFile).settingsFile << "\n";
        return kExitOk;
    }

    static const char* const kCommands[] = {"encrypt", "decrypt", "cat", "verify", "info"};
    if (std::find(std::begin(kCommands), std::end(kCommands), inv->command) == std::end(kCommands))
        return Usage(env, "unknown command '" + inv->command + "'");
    if (inv->files.empty()) return Usage(env, inv->command + " needs at least one FILE");
    if (inv->command == "cat" && inv->files.size() != 1) return Usage(env, "cat takes exactly one FILE");
    if (inv->command == "info") return Info(inv->files, env);

    const container::FileOptions options = Apply(env.loadDefaults(settingsFile).options, *inv);
    std::variant<std::string, UsageError> password = ObtainPassword(*inv, env);
    if (auto* error = std::get_if<UsageError>(&password)) {
        *env.err << "quillix-crypt: " << error->message << "\n";
        return kExitUsage;
    }
    std::string& pw = std::get<std::string>(password);
    int status = kExitOk;
    const unsigned jobs =
        inv->jobs ? static_cast<unsigned>(*inv->jobs) : std::max(1u, std::thread::hardware_concurrency());
    if (inv->command == "verify")
        status = Verify(*inv, jobs, options, pw, env);
    else if (inv->command == "cat")
        status = Cat(*inv, options, pw, env);
    else
        status = InPlace(*inv, jobs, options, pw, env);
    crypto::SecureWipe(pw);
    return status;
}

Environment ProcessEnvironment()
{
    Environment env;
    env.in = &std::cin;
    env.out = &std::cout;
    env.err = &std::cerr;
    env.askTerminal = ReadPasswordFromTerminal;
    env.loadDefaults = LoadDefaults;
    env.progressOnErr = ::isatty(STDERR_FILENO) == 1;
    env.terminalWidth = [] {
        winsize size{};
        return ::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0 ? std::size_t{size.ws_col}
                                                                                 : std::size_t{80};
    };
    return env;
}

}  // namespace quillix::cli

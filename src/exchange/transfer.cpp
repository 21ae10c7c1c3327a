#include "exchange/transfer.h"

#include <QTimer>
#include <algorithm>

#include "model/params.h"

namespace dovu {

namespace {

constexpr std::uint8_t kLastReadCode = 104;

}  // namespace

std::optional<Problem> textTooLong(const Configuration& c) {
  const ParamDef* p = textOverLimit(c);
  if (!p) return std::nullopt;
  // The field by its stable name: the window and the tool each word it their way.
  const ConfigField& f = *configFieldNamed(QString::fromLatin1(p->field));
  return Problem{Cause::TextTooLong, Cause::None, f.name,
                 {QString::number(std::get<QString>(configValue(c, f)).size()), QString::number(p->limit)},
                 {}};
}

ConfigTransfer::ConfigTransfer(Link& link, Session& session, QObject* parent)
    : QObject(parent), link_(link), session_(session) {
  // A download counts every frame that comes, asked for or not, and every request it writes: a
  // value that came more often than its requests could have been answered is no answer.
  const auto seen = [this](std::uint8_t code, const Bytes& payload) {
    if (busy_ && !up_) ++arrivals_[{code, payload}];
  };
  connect(&link_, &Link::frameTaken, this, seen);
  connect(&link_, &Link::frameDropped, this, seen);
  connect(&link_, &Link::frameTraced, this, [this](bool outgoing, const Bytes& frame) {
    if (outgoing && busy_ && !up_ && frame.size() > 1) ++asked_[static_cast<std::uint8_t>(frame[1])];
  });
}

bool ConfigTransfer::mayAnswer(std::uint8_t code, const Bytes& payload) const {
  // A controller answers a request once, and a line may repeat a frame once more.
  const auto it = arrivals_.find({code, payload});
  return it == arrivals_.end() || it->second <= 2 * asked_[code];
}

void ConfigTransfer::setBar(int value) {
  reached_ = value;
  emit progress(value);
}

void ConfigTransfer::requestDownload() { request(false); }

void ConfigTransfer::requestUpload(const Configuration& config, std::vector<std::size_t> only) {
  request(true, config, std::move(only));
}

void ConfigTransfer::request(bool up, const Configuration& config, std::vector<std::size_t> only) {
  if (busy_ || pending_ || link_.aborted() || !session_.loggedIn()) return;
  // Queued behind the exchange under way, and dropped if that exchange (or a ROZŁĄCZ meanwhile)
  // logged the window out: the buttons that asked for it are disabled by now.
  pending_ = true;
  link_.submit(
      [this, up, config, only = std::move(only)] {
        pending_ = false;
        const bool started = up ? startUpload(config, only) : startDownload();
        if (started) requested_ = true;
      },
      Link::Queued::DropIfSessionChanged, [this] { pending_ = false; });
}

bool ConfigTransfer::stopAsked() {
  stopped_ = stopped_ || (stopRequested && stopRequested());
  return stopped_;
}

bool ConfigTransfer::begin() {
  // A second exchange under way would interleave its frames with this one's on the line.
  if (busy_ || link_.waiting() || link_.exchanging() || link_.aborted()) return false;
  busy_ = true;
  stopped_ = false;
  resumedLive_ = false;
  reached_ = 0;
  requested_ = false;
  portError_.reset();
  problem_.reset();
  hold_ = link_.hold();
  index_ = 0;
  return true;
}

bool ConfigTransfer::startDownload() {
  if (!begin()) return false;
  up_ = false;
  // Every field the controller keeps is answered; the access password, which it does not tell,
  // stays as a new window has it.
  reading_ = defaultConfiguration();
  marks_.assign(1, link_.disturbances());
  answers_.assign(paramTable().size(), {});
  toConfirm_.clear();
  arrivals_.clear();
  asked_.fill(0);
  session_.liveOff();
  emit started(false);
  setBar(0);
  readNext();
  return true;
}

Request ConfigTransfer::readRequest(std::size_t index) {
  const ParamDef& p = paramTable()[index];
  link_.setPollTicks(0);
  Request r;
  r.code = p.readCode;
  r.payload = Bytes(kReadPayload);
  r.ticks = kReadTicks;
  // A missing answer logs the window out, silently for the threshold block.
  r.showNoAnswer = p.readCode != kNoAnswerSilentCode;
  r.pauseBeforeMs = 10;
  r.pauseAfterMs = 0;
  return r;
}

void ConfigTransfer::readNext() {
  if (stopAsked()) return end(false);
  Request r = readRequest(index_);
  r.done = [this, code = r.code](Request::Outcome outcome) {
    if (outcome == Request::Outcome::PortError) portError_ = link_.lastError();
    if (outcome != Request::Outcome::Answered || link_.aborted()) return end(false);
    // The dispatcher let through only a whole answer: a block shorter than its layout was no answer.
    decodeParameter(reading_, paramTable()[index_], link_.rxPayload());
    answers_[index_].push_back(link_.rxPayload());
    marks_.push_back(link_.disturbances());
    setBar(code * 100 / kLastReadCode);
    if (++index_ == paramTable().size()) return settleThenConfirm();
    readNext();
  };
  link_.send(std::move(r));
}

void ConfigTransfer::settleThenConfirm() {
  // Frames that follow the last answer belong to its surroundings too: let the line fall quiet
  // (as a request would before its write), then see what came.
  if (!settling_.isValid()) settling_.start();
  const qint64 quiet = link_.quietForMs();
  if (quiet < kQuietLineMs && settling_.elapsed() < kQuietLineLimitMs) {
    QTimer::singleShot(static_cast<int>(kQuietLineMs - quiet), this, [this] {
      if (busy_ && !link_.aborted()) settleThenConfirm();
    });
    return;
  }
  settling_.invalidate();
  marks_.push_back(link_.disturbances());
  // Parameter k took its answer between marks k and k + 1; what came from the answer before it to
  // the answer after it (or the quiet line after the last) lies around it.  On a clean line the
  // count does not move and nothing is read twice.
  toConfirm_.clear();
  for (std::size_t k = paramTable().size(); k-- > 0;)
    if (marks_[k + 2] != marks_[k]) toConfirm_.push_back(k);
  confirmNext();
}

void ConfigTransfer::confirmNext() {
  if (toConfirm_.empty()) return downloadDone();
  if (stopAsked()) return end(false);
  const std::size_t k = toConfirm_.back();
  Request r = readRequest(k);
  r.done = [this, k](Request::Outcome outcome) {
    if (outcome == Request::Outcome::PortError) portError_ = link_.lastError();
    if (outcome != Request::Outcome::Answered || link_.aborted()) return end(false);
    // The latest answer stands once an earlier one agrees with it, unless that value came more
    // often than the controller can have sent it: a frame nobody asked for, repeated behind
    // other answers, may land behind two requests of its code on a busy machine.
    std::vector<Bytes>& seen = answers_[k];
    const Bytes now = link_.rxPayload();
    const bool agrees =
        std::find(seen.begin(), seen.end(), now) != seen.end() && mayAnswer(paramTable()[k].readCode, now);
    seen.push_back(now);
    if (agrees) {
      decodeParameter(reading_, paramTable()[k], now);
      toConfirm_.pop_back();
      return confirmNext();
    }
    if (seen.size() >= static_cast<std::size_t>(kMostReadsOfParameter)) {
      tell(MessageKind::Error, Problem{Cause::NoisyLine, Cause::None, QString::fromUtf8(paramTable()[k].field),
                                       {QString::number(seen.size())}, {}});
      return end(false);
    }
    confirmNext();
  };
  link_.send(std::move(r));
}

void ConfigTransfer::downloadDone() {
  // Every parameter is answered: this is what the controller holds.
  read_ = reading_;
  read_.firmware = session_.firmwareVersion();
  read_.port = link_.port() ? link_.port()->port() : QString();
  emit downloaded(read_);
  session_.liveOn();
  resumedLive_ = true;
  end(true);
}

bool ConfigTransfer::startUpload(const Configuration& config, std::vector<std::size_t> only) {
  if (!begin()) return false;
  up_ = true;
  order_.clear();
  for (std::size_t k = 0; k < paramTable().size(); ++k)
    if (only.empty() || std::find(only.begin(), only.end(), k) != only.end()) order_.push_back(k);
  sending_ = config;
  if (const auto why = textTooLong(sending_)) {
    Problem p = *why;
    p.holds = Holds::Unchanged;
    tell(MessageKind::Error, p);
    QMetaObject::invokeMethod(this, [this] { end(false); }, Qt::QueuedConnection);
    return true;
  }
  session_.liveOff();
  emit started(true);
  setBar(0);
  writeNext();
  return true;
}

void ConfigTransfer::writeNext() {
  if (stopAsked()) return end(false);
  const ParamDef& p = paramTable()[order_[index_]];
  Request r;
  r.code = p.setCode();
  r.payload = encodeParameter(sending_, p);
  r.ticks = p.setWait;
  r.done = [this](Request::Outcome outcome) {
    if (outcome == Request::Outcome::PortError) portError_ = link_.lastError();
    if (outcome != Request::Outcome::Answered || link_.aborted()) return end(false);
    const std::size_t done = order_[index_];
    setBar(static_cast<int>(++index_));
    // The controller now holds these fields' values.
    emit parameterHeld(done);
    if (index_ == order_.size()) return end(true);
    writeNext();
  };
  link_.send(std::move(r));
}

void ConfigTransfer::tell(MessageKind kind, const Problem& p) {
  problem_ = p;
  emit notice(Notice{kind, p, false});
}

void ConfigTransfer::end(bool ok) {
  if (up_ && session_.loggedIn() && !link_.aborted()) {
    session_.liveOn();
    resumedLive_ = true;
  }
  busy_ = false;
  hold_.reset();
  if (!ok && !up_ && requested_ && !link_.aborted()) {
    Problem p{Cause::DownloadInterrupted, portError_ ? Session::portErrorCause(*portError_) : Cause::None, {}, {}, {}};
    if (p.reason == Cause::PortFailed) p.args << QString::number(portError_->code());
    p.holds = Holds::Unchanged;
    tell(MessageKind::Warning, p);
  }
  // Some parameters went in, some did not: the controller holds a mix, whatever ended the upload
  // (the window closing aside: it has said so itself).
  if (!ok && up_ && requested_ && index_ > 0 && !stopped_) {
    Problem p{Cause::UploadInterrupted, portError_ ? Session::portErrorCause(*portError_) : Cause::None, {},
              {QString::number(index_), QString::number(order_.size())}, {}};
    if (p.reason == Cause::PortFailed) p.args << QString::number(portError_->code());
    p.holds = Holds::Mix;
    tell(MessageKind::Warning, p);
  }
  emit finished(ok);
}

}  // namespace dovu

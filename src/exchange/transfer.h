#pragma once
// Download and upload of the whole configuration, parameter by parameter.  Whether one runs, which
// way, and how far it got are values of the transfer with signals; the window draws its progress.
// A download gathers the answers into a configuration of its own and hands it over only once every
// parameter is answered (and confirmed); an upload sends a configuration it was given.
#include <QElapsedTimer>
#include <QObject>
#include <array>
#include <map>
#include <functional>
#include <optional>
#include <vector>

#include "link/link.h"
#include "session/session.h"
#include "model/configuration.h"

namespace dovu {

// Which text is longer than its field in the controller, and by how much (a TextTooLong problem
// whose subject is the field's stable name, with its length and the limit); nullopt when every
// text fits.
std::optional<Problem> textTooLong(const Configuration& c);
// A parameter whose read saw a disturbed line is read again until two answers agree, at most
// this many times in all.
constexpr int kMostReadsOfParameter = 4;

class ConfigTransfer : public QObject {
  Q_OBJECT
 public:
  ConfigTransfer(Link& link, Session& session, QObject* parent = nullptr);

  // Each starts the transfer as a sequence of the link's requests, one a parameter, holding the
  // line until it ends, and reports the outcome with finished() (true when every parameter was
  // answered).  False, with nothing done, while a transfer runs or another exchange is under way.
  // The upload first refuses, before anything is sent, a text longer than its field in the
  // controller (a TextTooLong problem naming the field; finished(false) follows): the controller keeps
  // no more than its field holds, so the rest would be lost while the window showed it
  // synchronised.  A download that does not finish hands over nothing, so that nobody shows (nor
  // an upload sends) a mix of two configurations.
  bool startDownload();
  // config: what to send (its password is not sent).  only: indexes into paramTable() of the
  // parameters to send, ascending; empty sends them all.
  bool startUpload(const Configuration& config, std::vector<std::size_t> only = {});
  bool busy() const { return busy_ || pending_; }
  // Whether the transfer under way, or the last one, is an upload.
  bool uploading() const { return up_; }
  // The bar value the transfer under way, or the last one, reached.
  int reached() const { return reached_; }
  // Whether the last transfer that ended handed the line back to the live display (a download that
  // completed, an upload that ended while still logged in): the transfer buttons are usable again.
  bool resumedLive() const { return resumedLive_; }
  // How many parameters the last upload sent and had acknowledged, of how many.
  std::size_t acknowledged() const { return up_ ? index_ : 0; }
  std::size_t toSend() const { return up_ ? order_.size() : 0; }
  // What the last download that completed read, with the firmware version and the port of the
  // session.  The controller does not tell its access password: that is the one a new window has.
  const Configuration& configuration() const { return read_; }
  // What the upload under way, or the last one, sends.
  const Configuration& uploaded() const { return sending_; }
  // The port's failure that ended the last transfer, if one did.
  const std::optional<SerialPortError>& portError() const { return portError_; }
  // Why the last transfer failed, as far as it said: the last of its notices (none when it ended
  // well, or without one).
  const std::optional<Problem>& problem() const { return problem_; }

  // Asked before each parameter: true ends the transfer there, after the exchange of the one
  // before it has finished (the command-line tool's SIGINT).  stopped() then tells.
  std::function<bool()> stopRequested;
  bool stopped() const { return stopped_; }

  // For the window's buttons and menu items: starts the transfer now, or as soon as the exchange
  // under way has ended.  Ignored while a transfer runs or is already waiting to run.  A requested
  // download that does not finish says so (DownloadInterrupted); a requested upload that ends
  // after some parameters were acknowledged says that the controller now holds a mix, and how much
  // of it is new (UploadInterrupted).
  void requestDownload();
  void requestUpload(const Configuration& config, std::vector<std::size_t> only = {});

 signals:
  // The transfer has begun sending (after the upload's checks): the window shows its progress.
  void started(bool upload);
  void progress(int value);  // the bar value after each parameter
  // A download completed: what the controller holds, every parameter of it (also configuration()).
  // Emitted before finished(true).
  void downloaded(const dovu::Configuration& config);
  // The controller acknowledged a parameter of the upload: it now holds that parameter's fields as
  // the upload's configuration has them.  index: into paramTable().
  void parameterHeld(std::size_t index);
  // What the user is to be told of how the transfer ended (a noisy line, a text too long, an
  // interrupted download or upload with what the controller now holds), emitted before finished().
  void notice(const dovu::Notice& notice);
  void finished(bool ok);

 private:
  void request(bool up, const Configuration& config = {}, std::vector<std::size_t> only = {});
  bool begin();
  void setBar(int value);
  void readNext();
  Request readRequest(std::size_t index);
  // After the last answer: waits for the line to fall quiet, then reads again each parameter
  // whose answer had frames nobody asked for, or broken ones, around it.
  void settleThenConfirm();
  void confirmNext();
  // Whether the download has seen this value of the code no more often than its requests of the
  // code could have been answered.
  bool mayAnswer(std::uint8_t code, const Bytes& payload) const;
  void downloadDone();
  void writeNext();
  void end(bool ok);
  bool stopAsked();
  void tell(MessageKind kind, const Problem& p);

  Link& link_;
  Session& session_;
  bool busy_ = false;
  bool pending_ = false;
  bool up_ = false;
  bool stopped_ = false;
  bool resumedLive_ = false;
  int reached_ = 0;
  bool requested_ = false;  // started by a press: a download that fails says so
  std::size_t index_ = 0;   // the parameter under way (an upload: its place in order_)
  std::vector<std::size_t> order_;  // the parameters an upload sends
  Configuration sending_;           // what an upload sends
  Configuration reading_;           // the download's answers as they come
  Configuration read_;              // the last download that completed
  // The download's reading of the line: the link's disturbance count before the first request
  // and at each answer, every answer to each parameter, and the parameters still to confirm.
  std::vector<std::uint64_t> marks_;
  std::vector<std::vector<Bytes>> answers_;
  std::vector<std::size_t> toConfirm_;
  // Every frame the download has seen, by code and payload, and the requests it wrote by code.
  std::map<std::pair<std::uint8_t, Bytes>, unsigned> arrivals_;
  std::array<unsigned, 256> asked_{};
  QElapsedTimer settling_;
  std::shared_ptr<void> hold_;
  std::optional<SerialPortError> portError_;
  std::optional<Problem> problem_;
};

}  // namespace dovu

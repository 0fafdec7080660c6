#include "devsim/image_loader.h"

#include <QDir>
#include <QNetworkProxy>
#include <algorithm>

#include "devsim/simulated_device.h"
#include "platform/ui/time_scale.h"

namespace devsim {

void ImageLoaderFaults::add(const ImageAnswerFault& fault) {
    std::lock_guard lock(mutex_);
    faults_.push_back(fault);
}

void ImageLoaderFaults::clear() {
    silent = false;
    std::lock_guard lock(mutex_);
    faults_.clear();
}

std::optional<ImageAnswerFault> ImageLoaderFaults::take(int packet) {
    std::lock_guard lock(mutex_);
    const auto it =
        std::find_if(faults_.begin(), faults_.end(), [&](const auto& f) { return f.packet == packet; });
    if (it == faults_.end()) return std::nullopt;
    const ImageAnswerFault fault = *it;
    if (!fault.always) faults_.erase(it);
    return fault;
}

namespace {

std::string text(const QString& s) { return s.toStdString(); }

std::string peer(const QHostAddress& address, quint16 port) {
    return address.toString().toStdString() + ":" + std::to_string(port);
}

// Length of `payload` without its trailing zero bytes: the padding of a last packet.
qint64 meaningfulLength(const char* payload, qint64 size) {
    while (size > 0 && payload[size - 1] == '\0') --size;
    return size;
}

}  // namespace

ImageLoader::ImageLoader(SimulatedDevice& device) : device_(device) {
    quiet_.setSingleShot(true);
    connect(&quiet_, &QTimer::timeout, this, &ImageLoader::finishImage);
}

ImageLoader::~ImageLoader() { stopListening(); }

bool ImageLoader::listen(const QHostAddress& address, QString* error) {
    if (socket_) return true;
    auto* socket = new QUdpSocket(this);
    socket->setProxy(QNetworkProxy::NoProxy);
    if (!socket->bind(address, kPort, QAbstractSocket::DontShareAddress)) {
        if (error) *error = QStringLiteral("image loader: UDP %1: %2").arg(kPort).arg(socket->errorString());
        delete socket;
        return false;
    }
    socket_ = socket;
    connect(socket_, &QUdpSocket::readyRead, this, &ImageLoader::onReadyRead);
    return true;
}

void ImageLoader::stopListening() {
    quiet_.stop();
    finishImage();
    delete socket_;
    socket_ = nullptr;
}

QString ImageLoader::imagePath() const {
    return QDir(device_.files().root()).filePath(QString::fromLatin1(kImageName));
}

void ImageLoader::onReadyRead() {
    // One datagram per event (the socket announces the next one); the buffer holds the largest.
    if (!socket_) return;
    if (buffer_.isEmpty()) buffer_.resize(65536);
    QHostAddress sender;
    quint16 senderPort = 0;
    const qint64 got = socket_->readDatagram(buffer_.data(), buffer_.size(), &sender, &senderPort);
    if (got < 0) return;
    take(QByteArray::fromRawData(buffer_.constData(), got), sender, senderPort);
}

void ImageLoader::take(const QByteArray& datagram, const QHostAddress& sender, quint16 senderPort) {
    if (datagram.size() != kDatagramBytes) {
        device_.log().append("image: ignored a datagram of " + std::to_string(datagram.size()) +
                             " bytes from " + peer(sender, senderPort));
        return;
    }
    const int n = static_cast<unsigned char>(datagram[0]) | (static_cast<unsigned char>(datagram[1]) << 8);
    if (n == 0) {
        device_.log().append("image: ignored packet number 0 from " + peer(sender, senderPort));
        return;
    }
    if (!part_.isOpen() && n > 1 && highest_ > 0 && n <= highest_ + 1) {
        // The sender paused longer than the quiet time (a long resend wait) and goes on where it was.
        if (!resumeImage()) return;
    } else if (n == 1 || !part_.isOpen()) {
        if (!beginImage()) return;
        device_.log().append("image: receiving from " + peer(sender, senderPort));
    }
    const char* payload = datagram.constData() + 2;
    if (!part_.seek(qint64(n - 1) * kDataBytes) || part_.write(payload, kDataBytes) != kDataBytes) {
        device_.log().append("image: cannot write packet " + std::to_string(n) + ": " +
                             text(part_.errorString()));
        return;
    }
    if (n > highest_) {
        if (n > highest_ + 1)
            device_.log().append("image: packet " + std::to_string(n) + " leaves a gap after packet " +
                                 std::to_string(highest_));
        highest_ = n;
        lastLength_ = meaningfulLength(payload, kDataBytes);
    } else {
        ++repeats_;
        device_.log().append("image: packet " + std::to_string(n) + " again");
    }
    quiet_.start(platform::scaled(kQuietTime));
    answer(n, sender, senderPort);
}

void ImageLoader::answer(int packet, const QHostAddress& sender, quint16 senderPort) {
    if (faults_.silent) return;
    int number = packet;
    qsizetype size = 2;
    if (const auto fault = faults_.take(packet)) {
        switch (fault->kind) {
            case ImageAnswerFault::Kind::Drop:
                device_.log().append("image: packet " + std::to_string(packet) + " not acknowledged (fault)");
                return;
            case ImageAnswerFault::Kind::Number:
                number = fault->value;
                device_.log().append("image: packet " + std::to_string(packet) + " acknowledged as " +
                                     std::to_string(number) + " (fault)");
                break;
            case ImageAnswerFault::Kind::Bytes:
                size = std::max(1, fault->value);
                device_.log().append("image: packet " + std::to_string(packet) + " answered with " +
                                     std::to_string(size) + " bytes (fault)");
                break;
        }
    }
    QByteArray reply(size, '\0');
    reply[0] = static_cast<char>(number & 0xFF);
    if (size > 1) reply[1] = static_cast<char>((number >> 8) & 0xFF);
    socket_->writeDatagram(reply, sender, senderPort);
}

bool ImageLoader::beginImage() {
    if (part_.isOpen()) {
        part_.close();
        part_.remove();
        device_.log().append("image: started again, the unfinished image dropped");
    }
    part_.setFileName(imagePath() + QStringLiteral(".part"));
    if (!part_.open(QIODevice::ReadWrite | QIODevice::Truncate)) {
        device_.log().append("image: cannot create " + text(part_.fileName()) + ": " +
                             text(part_.errorString()));
        return false;
    }
    highest_ = 0;
    lastLength_ = 0;
    repeats_ = 0;
    return true;
}

bool ImageLoader::resumeImage() {
    part_.setFileName(imagePath() + QStringLiteral(".part"));
    QFile::remove(part_.fileName());
    if (!QFile::rename(imagePath(), part_.fileName()) || !part_.open(QIODevice::ReadWrite)) {
        device_.log().append("image: cannot resume " + text(imagePath()));
        return false;
    }
    device_.log().append("image: resumed after packet " + std::to_string(highest_));
    return true;
}

void ImageLoader::finishImage() {
    if (!part_.isOpen()) return;
    const qint64 length = qint64(std::max(highest_ - 1, 0)) * kDataBytes + lastLength_;
    const bool resized = part_.resize(length);
    part_.close();
    QFile::remove(imagePath());
    if (!resized || !part_.rename(imagePath())) {
        device_.log().append("image: cannot store " + text(imagePath()) + ": " + text(part_.errorString()));
        return;
    }
    device_.log().append("image: stored \\" + std::string(kImageName) + ", " + std::to_string(highest_) +
                         " packets, " + std::to_string(length) + " bytes, " + std::to_string(repeats_) +
                         " packets sent again");
}

}  // namespace devsim

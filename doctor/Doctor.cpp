#include "doctor/Doctor.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace kv {

namespace {

constexpr const char* kByIdDir = "/dev/serial/by-id/";

bool has(const std::vector<std::string>& list, const std::string& item)
{
    return std::find(list.begin(), list.end(), item) != list.end();
}

bool startsWith(const std::string& s, const std::string& prefix)
{
    return s.compare(0, prefix.size(), prefix) == 0;
}

bool isByIdPath(const std::string& path)
{
    return startsWith(path, kByIdDir);
}

// A path that names a USB adapter: its by-id link or a USB tty node.
bool looksUsb(const TDoctorFacts& f)
{
    if (f.info)
        return f.info->IsUsb();
    return isByIdPath(f.device) || startsWith(f.device, "/dev/ttyUSB") || startsWith(f.device, "/dev/ttyACM");
}

std::string errorName(int err)
{
    switch (err) {
    case ENOENT: return "ENOENT";
    case EACCES: return "EACCES";
    case EPERM: return "EPERM";
    case EBUSY: return "EBUSY";
    case EIO: return "EIO";
    case ENXIO: return "ENXIO";
    case ENODEV: return "ENODEV";
    case EINVAL: return "EINVAL";
    case ENOTTY: return "ENOTTY";
    default: return "ошибка " + std::to_string(err);
    }
}

std::string holderText(const TDeviceHolder& h, unsigned uid)
{
    std::string text = std::to_string(h.pid) + " (" + (h.command.empty() ? "?" : h.command) + ")";
    if (h.uid != uid)
        text += ", пользователь " + (h.user.empty() ? std::to_string(h.uid) : h.user);
    return text;
}

bool heldBy(const TDoctorFacts& f, const std::string& command)
{
    return std::any_of(f.holders.begin(), f.holders.end(), [&](const TDeviceHolder& h) { return h.command == command; });
}

const char* const kBrailleName = "brltty";
const char* const kModemManagerName = "ModemManager";

std::string brailleText()
{
    return "Запущена служба брайлевского дисплея (brltty). Она забирает себе USB-адаптеры "
           "на распространённых микросхемах последовательных портов, и такое устройство "
           "пропадает сразу после подключения или оказывается занятым. Если брайлевский "
           "дисплей не используется, удалите её:\n"
           "  sudo apt-get remove brltty\n"
           "и подключите адаптер заново.";
}

std::string modemManagerText(const std::string& device)
{
    return "ModemManager опрашивает новые USB-устройства класса «модем»: в первые секунды "
           "после подключения он занимает порт и шлёт в него свои команды. Подождите полминуты "
           "и подключитесь снова. Чтобы он не трогал этот адаптер, добавьте для него правило udev "
           "с ENV{ID_MM_DEVICE_IGNORE}=\"1\" или остановите службу:\n"
           "  sudo systemctl stop ModemManager\n"
           "(устройство " + device + ").";
}

// ModemManager is present and the device is one it probes: a USB modem-class
// interface it has not been told to leave alone.
bool modemManagerMayProbe(const TDoctorFacts& f)
{
    if (!has(f.processes, kModemManagerName) || !f.info || !f.info->IsUsb())
        return false;
    auto prop = [&](const char* key) {
        auto it = f.info->properties.find(key);
        return it == f.info->properties.end() ? std::string() : it->second;
    };
    if (prop("ID_MM_DEVICE_IGNORE") == "1")
        return false;
    return f.info->interfaceClass == "02" || f.info->driver == "cdc_acm" || prop("ID_MM_CANDIDATE") == "1";
}

// Adapter chips the braille daemon is known to claim (vendor:product).
bool braileClaims(const TSerialDeviceInfo& d)
{
    static const char* const ids[] = {"1a86:7523", "10c4:ea60", "0403:6001"};
    const std::string id = d.vendorId + ":" + d.productId;
    return std::any_of(std::begin(ids), std::end(ids), [&](const char* known) { return id == known; });
}

std::string presentList(const TDoctorFacts& f)
{
    if (f.present.empty())
        return "Сейчас в системе нет ни одного последовательного устройства. Проверьте, что адаптер "
               "подключён; видит ли система USB-устройство, покажет команда lsusb.";
    std::string text = "Сейчас в системе есть:";
    for (const auto& d : f.present) {
        text += "\n  " + d.PreferredName() + " — " + d.Description();
        if (!d.byId.empty())
            text += " (" + d.node + ")";
    }
    text += "\nВыберите нужное в окне «Порт...».";
    return text;
}

std::string describeDevice(const TDoctorFacts& f)
{
    if (!f.info)
        return {};
    std::string text = "Устройство: " + f.info->Description();
    if (f.info->node != f.device)
        text += ", " + f.info->node;
    if (!f.info->byId.empty() && f.info->byId != f.device)
        text += ", " + f.info->byId;
    return text + ".";
}

// ---- the causes

std::string notFound(const TDoctorFacts& f)
{
    std::vector<std::string> parts;
    if (f.file.exists && !f.file.charDevice) {
        parts.push_back(f.device + " есть, но это не устройство, а обычный файл или папка.");
    } else {
        parts.push_back("Устройства " + f.device + " нет.");
    }
    if (isByIdPath(f.device)) {
        const std::string label = ByIdLabel(f.device);
        parts.push_back("Это постоянное имя USB-адаптера" + (label.empty() ? std::string() : " «" + label + "»") +
                        "; такой адаптер сейчас не подключён. Подключите его в любое USB-гнездо — "
                        "имя останется тем же.");
    } else if (!f.mapped) {
        parts.push_back(f.port + " по умолчанию открывает " + f.device +
                        ". Если адаптер подключён, выберите его устройство в окне «Порт...».");
    }
    parts.push_back(presentList(f));
    if (has(f.processes, kBrailleName) && looksUsb(f))
        parts.push_back(brailleText());
    std::string text;
    for (const auto& p : parts)
        text += (text.empty() ? "" : "\n\n") + p;
    return text;
}

std::string denied(const TDoctorFacts& f)
{
    const std::string group = f.file.group.empty() ? std::to_string(f.file.gid) : f.file.group;
    const std::string owner = f.file.owner.empty() ? std::to_string(f.file.uid) : f.file.owner;
    std::string text = "Нет прав на " + f.device + ": устройство принадлежит пользователю " + owner + " и группе " +
                       group + ", права " + ModeString(f.file.mode, f.file.charDevice) + ".";
    const bool groupMayUse = (f.file.mode & 060) == 060;
    const bool inSession = std::find(f.sessionGroups.begin(), f.sessionGroups.end(), f.file.gid) != f.sessionGroups.end();
    const bool inDatabase = has(f.userGroups, group);
    if (!groupMayUse) {
        text += "\n\nГруппе " + group + " чтение и запись не разрешены. Доступ пользователю " + f.user +
                " до перезагрузки или переподключения устройства даст команда:\n  sudo setfacl -m u:" + f.user +
                ":rw " + f.device + "\nНадолго — правило udev, которое даёт устройству группу dialout и права 0660.";
    } else if (inSession) {
        text += "\n\nПрограмма уже работает с правами группы " + group +
                ", но система всё равно не пускает её к устройству (так действуют ограничения безопасности "
                "или списки доступа). Проверьте их командой:\n  getfacl " + f.device;
    } else if (inDatabase) {
        text += "\n\nПользователь " + f.user + " уже состоит в группе " + group +
                ", но этот сеанс начат раньше, чем его туда добавили: права вступят в силу после нового "
                "входа в систему. Выйдите из сеанса и войдите снова (или перезагрузите компьютер).";
    } else {
        text += "\n\nПользователь " + f.user + " не состоит в группе " + group + ". Добавьте его командой:\n" +
                "  sudo usermod -aG " + group + " " + f.user +
                "\nзатем выйдите из сеанса и войдите снова.";
    }
    return text;
}

std::string busy(const TDoctorFacts& f)
{
    std::string text;
    if (f.holders.empty()) {
        if (f.holdersHidden)
            text = f.device + " занято процессом другого пользователя: сведения о нём этой программе "
                   "недоступны. Найти его можно командой:\n  sudo fuser -v " + f.device;
        else
            text = f.device + " занято, но сейчас его не держит ни один процесс: вероятно, он уже "
                   "завершился. Подключитесь снова.";
        return text;
    }
    text = f.device + (f.holders.size() == 1 ? " занято: его держит процесс " : " занято: его держат процессы ");
    for (size_t i = 0; i < f.holders.size(); ++i)
        text += (i ? ", " : "") + holderText(f.holders[i], f.uid);
    text += ".";
    if (heldBy(f, kModemManagerName))
        text += "\n\n" + modemManagerText(f.device);
    if (heldBy(f, kBrailleName))
        text += "\n\n" + brailleText();
    std::vector<const TDeviceHolder*> others;
    for (const auto& h : f.holders)
        if (h.command != kModemManagerName && h.command != kBrailleName)
            others.push_back(&h);
    if (!others.empty()) {
        const bool own = std::all_of(others.begin(), others.end(), [&](const TDeviceHolder* h) { return h->uid == f.uid; });
        const bool copy = std::any_of(others.begin(), others.end(), [](const TDeviceHolder* h) { return h->command == "kv20rcfg"; });
        text += copy ? "\n\nПорт занят другой копией этой программы: закройте её." : "\n\nЗакройте эту программу";
        std::string pids;
        for (const auto* h : others)
            pids += " " + std::to_string(h->pid);
        text += copy ? "\nИли завершите процесс:\n  " : " или завершите процесс:\n  ";
        text += std::string(own || f.uid == 0 ? "kill" : "sudo kill") + pids;
    }
    return text;
}

std::string otherOpenError(const TDoctorFacts& f)
{
    std::string text = "Открыть " + f.device + " не удалось: " + errorName(f.openError);
    if (f.openError > 0)
        text += std::string(" (") + std::strerror(f.openError) + ")";
    text += ".";
    if (f.openError == ENXIO || f.openError == ENODEV)
        text += "\n\nИмя устройства в системе есть, но оборудования за ним нет (порт не найден драйвером "
                "или адаптер отключается). Выберите другое устройство в окне «Порт...».";
    else if (f.openError == EIO)
        text += "\n\nУстройство отвечает ошибкой ввода-вывода: отключите адаптер и подключите снова.";
    else if (f.openError == EINVAL || f.openError == ENOTTY)
        text += "\n\nУстройство не принимает настройки последовательного порта (19200 бод, 8 бит, без "
                "чётности): возможно, это не последовательный порт.";
    const std::string device = describeDevice(f);
    if (!device.empty())
        text += "\n\n" + device;
    return text;
}

// The port opened; the unit did not answer as it should.
std::string silentLine(const TDoctorFacts& f)
{
    std::vector<std::string> parts;
    switch (f.trouble) {
    case TConnectionFailure::NoPrompt:
        parts.push_back("Порт " + f.device + " открылся и отправленное вернулось эхом, но приглашения "
                        "«Password:» нет. Так отвечает заглушка-петля (соединённые контакты приёма и передачи) "
                        "или другое устройство, которое повторяет принятое; либо УАТС не в режиме связи с "
                        "компьютером.");
        break;
    case TConnectionFailure::NoReply:
        parts.push_back("Порт " + f.device + " открыт, но на ввод пароля УАТС не ответила: связь "
                        "оборвалась или устройство перестало отвечать.");
        break;
    default:
        parts.push_back("Порт " + f.device + " открылся, но отправленное не вернулось эхом: УАТС не отвечает.");
        break;
    }

    if (!f.receivedKnown) {
        // Nothing to say about what arrived.
    } else if (f.trouble != TConnectionFailure::NoPrompt) {
        if (f.received == 0) {
            parts.push_back("С линии не пришло ни одного байта. Проверьте, что УАТС включена, кабель вставлен в "
                            "её порт для компьютера и это тот адаптер, о котором вы думаете (его описание ниже).");
        } else {
            std::string t = "С линии пришло байт: " + std::to_string(f.received) + ", но не эхо отправленного";
            if (!f.receivedText.empty())
                t += ": «" + f.receivedText + "»";
            parts.push_back(t + ".");
        }
    } else if (!f.receivedText.empty()) {
        parts.push_back("Пришло: «" + f.receivedText + "».");
    }

    if (f.counts.known) {
        if (f.counts.frame || f.counts.parity) {
            parts.push_back("Драйвер насчитал ошибок кадра: " + std::to_string(f.counts.frame) +
                            ", ошибок чётности: " + std::to_string(f.counts.parity) +
                            ". Так бывает, когда устройство на линии работает не на 19200 бод или на этом порту "
                            "не то устройство.");
        } else if (f.receivedKnown && f.received > 0) {
            parts.push_back("Ошибок кадра и чётности нет: скорость совпадает, но отвечает не УАТС или она в "
                            "другом режиме.");
        } else {
            parts.push_back("Ошибок кадра и чётности нет.");
        }
        if (f.counts.overrun)
            parts.push_back("Потеряно байтов из-за переполнения: " + std::to_string(f.counts.overrun) + ".");
    } else {
        parts.push_back("Счётчиков ошибок линии этот драйвер не ведёт.");
    }

    // A pseudo-terminal's other openers are its far end (a simulator).
    if (!f.holders.empty() && !startsWith(f.device, "/dev/pts/")) {
        std::string t = "Устройство открыто ещё и в ";
        t += f.holders.size() == 1 ? "процессе " : "процессах ";
        for (size_t i = 0; i < f.holders.size(); ++i)
            t += (i ? ", " : "") + holderText(f.holders[i], f.uid);
        parts.push_back(t + ": он может перехватывать ответы УАТС или слать в линию своё.");
    }
    if (modemManagerMayProbe(f))
        parts.push_back(modemManagerText(f.device));
    if (f.info && f.info->IsUsb() && braileClaims(*f.info) && has(f.processes, kBrailleName))
        parts.push_back(brailleText());

    const std::string device = describeDevice(f);
    parts.push_back(device.empty() ? "Сведений об устройстве " + f.device + " в базе устройств системы нет." : device);

    std::string text;
    for (const auto& p : parts)
        text += (text.empty() ? "" : "\n\n") + p;
    return text;
}

}  // namespace

std::string ModeString(unsigned mode, bool charDevice)
{
    std::string s = charDevice ? "c" : "-";
    const char* letters = "rwx";
    for (int shift = 6; shift >= 0; shift -= 3)
        for (int bit = 0; bit < 3; ++bit)
            s += (mode >> (shift + 2 - bit)) & 1 ? letters[bit] : '-';
    return s;
}

// The server's own words to a client it turns away, as far as they are text.
std::string serverWords(const std::string& bytes)
{
    std::string words;
    for (char c : bytes) {
        if (c == '\r' || c == '\n') {
            if (!words.empty() && words.back() != ' ')
                words += ' ';
        } else if (static_cast<unsigned char>(c) >= 0x20 && static_cast<unsigned char>(c) < 0x7f) {
            words += c;
        }
    }
    while (!words.empty() && words.back() == ' ')
        words.pop_back();
    return words;
}

std::string network(const TDoctorFacts& f)
{
    const TVaNetStatus& n = f.net;
    const std::string address = n.address.Text();
    const std::string server = n.address.host + ":" + std::to_string(n.address.port);
    const std::string why = n.errorText.empty() ? "" : " (" + n.errorText + ")";
    switch (n.failure) {
    case TVaNetFailure::HostNotFound:
        return "Имя «" + n.address.host + "» не найдено" + why +
               ".\n\nПроверьте, что имя сервера в адресе " + address +
               " написано верно, или укажите его IP-адрес. Если имя верное, проверьте, что этот компьютер "
               "подключён к сети и DNS-сервер доступен.";
    case TVaNetFailure::Refused:
        return "Сервер " + server + " отказал в соединении: на порту " + std::to_string(n.address.port) +
               " никто не ждёт подключений.\n\nПроверьте номер порта в адресе " + address +
               " и что сервер последовательного порта (например, ser2net) запущен и в его настройке "
               "этот порт открыт.";
    case TVaNetFailure::TimedOut:
        return "Сервер " + server + " не ответил за " + std::to_string(kVaConnectTimeoutMs / 1000) +
               " с" + why + ".\n\nПроверьте, что он включён и доступен по сети (ping " + n.address.host +
               "), и что сетевой экран пропускает соединения на порт " + std::to_string(n.address.port) + ".";
    case TVaNetFailure::Unreachable:
        return "Сервер " + server + " недоступен: нет пути к нему по сети" + why +
               ".\n\nПроверьте подключение этого компьютера к сети и адрес " + address + ".";
    case TVaNetFailure::Other:
        return "Подключиться к " + address + " не удалось" + why + ".";
    case TVaNetFailure::None:
        break;
    }
    // Connected: what the server did then.
    const std::string words = serverWords(n.firstBytes);
    if ((n.closedByServer || n.reset) && words.find("in use") != std::string::npos)
        return "Сервер " + server + " отказал: порт занят другим клиентом («" + words +
               "»).\n\nЗакройте программу, которая подключена к нему (на этом или другом компьютере), "
               "или разрешите серверу отдавать порт новому клиенту: в настройке ser2net для этого порта "
               "добавьте\n  kickolduser: true";
    if (n.address.scheme == TVaNetScheme::Tcp && n.telnetInRawData)
        return "Сервер " + server + " говорит по протоколу telnet, а адрес указан как tcp://: то, что "
               "пришло, не данные устройства.\n\nУкажите адрес rfc2217://" + server + ".";
    if (n.address.scheme == TVaNetScheme::Rfc2217 && !n.comPortAgreed && (n.offersMirrored || !n.telnetAnswered))
        return "Сервер " + server + " не ведёт переговоров telnet (RFC 2217): похоже, это порт без "
               "протокола, а адрес указан как rfc2217://" +
               std::string(n.offersMirrored ? "; наши собственные предложения вернулись эхом устройства" : "") +
               ".\n\nУкажите адрес tcp://" + server + ", либо настройте порт на сервере как "
               "telnet(rfc2217).";
    if (n.closedByServer || n.reset)
        return "Сервер " + server + " закрыл соединение" +
               (words.empty() ? std::string() : " со словами «" + words + "»") +
               ".\n\nПроверьте настройку порта на сервере и что устройство подключено к нему.";
    return {};
}

std::string Diagnose(const TDoctorFacts& f)
{
    if (f.net.network) {
        // The network's own failure; else the line behind the server is
        // silent, as a local one would be.
        const std::string text = network(f);
        if (!text.empty() || f.trouble == TConnectionFailure::OpenFailed)
            return text.empty() ? "Подключиться к " + f.net.address.Text() + " не удалось." : text;
        return silentLine(f);
    }
    if (f.trouble != TConnectionFailure::OpenFailed)
        return silentLine(f);
    if (f.openError == ENOENT || !f.file.exists || !f.file.charDevice)
        return notFound(f);
    if (f.openError == EACCES || f.openError == EPERM)
        return denied(f);
    if (f.openError == EBUSY)
        return busy(f);
    return otherOpenError(f);
}

}  // namespace kv

// The decoded values and identities of a page, as JSON-ready objects grouped
// the way each family's decoder holds them. Texts from units are Latin-1.
#include "report/stationreport.h"

#include "connection/connectionpage.h"
#include "connection/session.h"
#include "protocols/arx/arxdecoder.h"
#include "protocols/arx/arxsession.h"
#include "protocols/hd/hddecoder.h"
#include "protocols/hd/hdtables.h"
#include "protocols/hd/linesession.h"
#include "protocols/kf71/kf71decoder.h"
#include "protocols/kx71/kx71session.h"
#include "station/station.h"

namespace report {

namespace {

QString latin(const QByteArray &b)
{
    return QString::fromLatin1(b);
}

template <typename Container>
QJsonArray numbers(const Container &c)
{
    QJsonArray a;
    for (const auto v : c)
        a.append(double(v));
    return a;
}

// A coded value with its reference-table text beside it (null when the
// table does not name the code).
QJsonObject coded(int value, hdtables::Table table)
{
    const QString text = hdtables::text(table, value);
    return QJsonObject{{QStringLiteral("value"), value},
                       {QStringLiteral("text"), text.isEmpty() ? QJsonValue() : QJsonValue(text)}};
}

// HD and KF-71 alarm tables: four groups of a header and twelve pairs; the
// first value of a pair is an index into the alarm-name table.
template <typename Table>
QJsonArray alarmTable(const Table &table, hdtables::Table names)
{
    QJsonArray groups;
    for (const auto &g : table) {
        QJsonArray pairs;
        for (const auto &p : g.pair)
            pairs.append(QJsonObject{{QStringLiteral("alarm"), coded(p[0], names)}, {QStringLiteral("value"), p[1]}});
        groups.append(QJsonObject{{QStringLiteral("header"), g.header}, {QStringLiteral("pairs"), pairs}});
    }
    return groups;
}

const char *const kArxModuleNames[arxModuleCount] = {"KM-71", "option", "KS-71", "KR-71", "KC-71 0",
                                                     "KC-71 1", "KV-73", "KV-75", "KA-71", "KA-72"};

QJsonObject arxValues(const ArxDecoder &d)
{
    QJsonArray modules;
    for (int i = 0; i < arxModuleCount; ++i) {
        const auto m = static_cast<ArxModule>(i);
        const ArxModuleStatus &st = d.status(m);
        const ArxConfig &cfg = d.configuration(m);
        QJsonArray bits;
        for (bool b : st.bit)
            bits.append(b);
        modules.append(QJsonObject{
            {QStringLiteral("module"), QLatin1String(kArxModuleNames[i])},
            {QStringLiteral("present"), d.isPresent(m)},
            {QStringLiteral("status"), QJsonObject{{QStringLiteral("received"), st.received},
                                                   {QStringLiteral("byte"), st.status},
                                                   {QStringLiteral("bits"), bits},
                                                   {QStringLiteral("field"), st.field},
                                                   {QStringLiteral("word"), st.word},
                                                   {QStringLiteral("extra"), st.extra}}},
            {QStringLiteral("configuration"), QJsonObject{{QStringLiteral("received"), cfg.received},
                                                          {QStringLiteral("values"), numbers(cfg.values)},
                                                          {QStringLiteral("flags"), cfg.flags},
                                                          {QStringLiteral("fields"), numbers(cfg.fields)}}},
        });
    }
    const ArxOptionModule &o = d.optionModule();
    QJsonArray labels;
    for (const QString &l : o.labels)
        labels.append(l);
    return QJsonObject{
        {QStringLiteral("family"), QStringLiteral("arx")},
        {QStringLiteral("modules"), modules},
        {QStringLiteral("channels"), QJsonArray{numbers(d.channelValues(0)), numbers(d.channelValues(1))}},
        {QStringLiteral("optionModule"), QJsonObject{{QStringLiteral("text"), o.text},
                                                     {QStringLiteral("value"), o.value},
                                                     {QStringLiteral("shortText"), o.shortText},
                                                     {QStringLiteral("labels"), labels}}},
        {QStringLiteral("auxValues"), numbers(d.auxValues())},
        {QStringLiteral("readingValid"), d.readingValid()},
    };
}

QJsonObject hdValues(const HdDecoder &d)
{
    const HdMain &m = d.main();
    QJsonObject main;
    for (int f = 1; f <= 31; ++f) {
        if (f == 28 || f == 30)
            continue;
        main.insert(QStringLiteral("field%1").arg(f), m.field[size_t(f)]);
    }
    main.insert(QStringLiteral("field28"), latin(m.text28));
    main.insert(QStringLiteral("field30"), m.real30);
    main.insert(QStringLiteral("field32"), m.real32);
    main.insert(QStringLiteral("word33"), m.word33);
    main.insert(QStringLiteral("word34"), m.word34);
    const HdStationInfo &s = d.stationInfo();
    const HdProgrammeData &pd = d.programmeData();
    QJsonArray programmes;
    for (int e = 1; e < HdProgrammeData::kEntries; ++e) {
        QJsonArray nums, texts;
        for (const auto &row : pd.number)
            nums.append(row[size_t(e)]);
        for (const auto &row : pd.text)
            texts.append(latin(row[size_t(e)]));
        programmes.append(QJsonObject{{QStringLiteral("entry"), e}, {QStringLiteral("numbers"), nums},
                                      {QStringLiteral("texts"), texts}});
    }
    const HdLevels &l = d.levels();
    return QJsonObject{
        {QStringLiteral("family"), QStringLiteral("hd")},
        {QStringLiteral("page"), d.page()},
        {QStringLiteral("framesDecoded"), d.framesDecoded()},
        {QStringLiteral("header"), QJsonObject{{QStringLiteral("word"), d.header().word},
                                               {QStringLiteral("longWord"), double(d.header().longWord)}}},
        {QStringLiteral("main"), main},
        {QStringLiteral("levels"), QJsonObject{{QStringLiteral("byte0"), l.byte0},
                                               {QStringLiteral("byte1"), l.byte1},
                                               {QStringLiteral("word"), l.word},
                                               {QStringLiteral("level"), numbers(l.level)}}},
        {QStringLiteral("counters"), numbers(d.counters())},
        {QStringLiteral("meters"), numbers(d.meters())},
        {QStringLiteral("wideArray"), numbers(d.wideArray())},
        {QStringLiteral("stationInformation"),
         QJsonObject{{QStringLiteral("numbers"), numbers(s.number)},
                     {QStringLiteral("stationId"), latin(s.stationId)},
                     {QStringLiteral("text2"), latin(s.text2)},
                     {QStringLiteral("text4"), latin(s.text4)},
                     {QStringLiteral("latitude"), latin(s.latitude)},
                     {QStringLiteral("longitude"), latin(s.longitude)},
                     {QStringLiteral("callSign"), latin(s.callSign)},
                     {QStringLiteral("slogan"), latin(s.slogan)}}},
        {QStringLiteral("programmeData"), programmes},
        {QStringLiteral("settings"), numbers(d.settings().slot)},
        {QStringLiteral("alarmTable"), alarmTable(d.alarmTable(), hdtables::Table::AlarmName)},
        {QStringLiteral("alarmTableFirst"), alarmTable(d.alarmTableCopy(), hdtables::Table::AlarmName)},
    };
}

QJsonObject kfValues(const Kf71Decoder &d)
{
    QJsonArray rds;
    const Kf71RdsBasic &r = d.rdsBasic();
    static const QList<int> numberFields = {3, 4, 5, 15, 18, 20, 21};
    for (int f = 1; f <= Kf71RdsBasic::fieldCount; ++f) {
        if (f == 14)
            continue;
        if (numberFields.contains(f))
            rds.append(QJsonObject{{QStringLiteral("field"), f}, {QStringLiteral("value"), r.value[size_t(f)]}});
        else
            rds.append(QJsonObject{{QStringLiteral("field"), f}, {QStringLiteral("text"), r.text[size_t(f)]}});
    }
    return QJsonObject{
        {QStringLiteral("family"), QStringLiteral("kf71")},
        {QStringLiteral("page"), d.lastPage()},
        {QStringLiteral("header"), QJsonObject{{QStringLiteral("byte"), d.header().byte},
                                               {QStringLiteral("word"), d.header().word}}},
        {QStringLiteral("statusByte"), d.statusByte()},
        {QStringLiteral("meters"), numbers(d.meters())},
        {QStringLiteral("wideArray"), numbers(d.wideArray())},
        {QStringLiteral("settings"), numbers(d.settings().slot)},
        {QStringLiteral("rds"), QJsonObject{{QStringLiteral("fields"), rds},
                                            {QStringLiteral("radioText1"), r.radioText1()},
                                            {QStringLiteral("radioText2"), r.radioText2()}}},
        {QStringLiteral("alarmTable"), alarmTable(d.alarmTable(), hdtables::Table::KfAlarmName)},
        {QStringLiteral("alarmTableFirst"), alarmTable(d.alarmTableCopy(), hdtables::Table::KfAlarmName)},
    };
}

QJsonObject kxValues(const Kx71Values &v)
{
    return QJsonObject{
        {QStringLiteral("family"), QStringLiteral("kx71")},
        {QStringLiteral("bytes4"), numbers(v.bytes4)},
        {QStringLiteral("word7"), v.word7},
        {QStringLiteral("bytes9"), numbers(v.bytes9)},
        {QStringLiteral("word12"), v.word12},
        {QStringLiteral("byte14"), v.byte14},
        {QStringLiteral("bytes15"), numbers(v.bytes15)},
        {QStringLiteral("flag23bit0"), v.flag23bit0},
        {QStringLiteral("flag23bit1"), v.flag23bit1},
        {QStringLiteral("field23bits45"), v.field23bits45},
        {QStringLiteral("bytes24"), numbers(v.bytes24)},
        {QStringLiteral("word26"), v.word26},
        {QStringLiteral("byte28"), v.byte28},
        {QStringLiteral("word29"), v.word29},
        {QStringLiteral("bytes31"), numbers(v.bytes31)},
        {QStringLiteral("words33"), numbers(v.words33)},
        {QStringLiteral("frameKind"), v.frameKind},
        {QStringLiteral("dataMode"), v.dataMode},
    };
}

} // namespace

QJsonObject StationReport::values(int number) const
{
    const ConnectionPage *page = m_station.page(number);
    if (!page || !page->session())
        return {};
    Session *session = page->session();
    if (auto *arx = dynamic_cast<const ArxSession *>(session))
        return arxValues(arx->decoder());
    if (auto *line = dynamic_cast<const LineSession *>(session)) {
        if (auto *hd = dynamic_cast<const HdDecoder *>(line->decoder()))
            return hdValues(*hd);
        if (auto *kf = dynamic_cast<const Kf71Decoder *>(line->decoder()))
            return kfValues(*kf);
    }
    if (auto *kx = dynamic_cast<const Kx71Session *>(session))
        return kxValues(kx->values());
    return QJsonObject{{QStringLiteral("family"), QStringLiteral("none")}};
}

namespace {

template <typename Table>
QList<AlarmTableChange> tableChanges(const Table &now, const Table &first, hdtables::Table names)
{
    QList<AlarmTableChange> out;
    for (size_t g = 0; g < now.size(); ++g) {
        for (size_t j = 0; j < now[g].pair.size(); ++j) {
            const auto &x = now[g].pair[j], &y = first[g].pair[j];
            if (x == y)
                continue;
            out << AlarmTableChange{int(g), int(j), y[0], y[1], x[0], x[1],
                                    hdtables::text(names, y[0]), hdtables::text(names, x[0])};
        }
    }
    return out;
}

} // namespace

QList<AlarmTableChange> StationReport::alarmTableChanges(int number) const
{
    const ConnectionPage *page = m_station.page(number);
    const auto *line = page ? dynamic_cast<const LineSession *>(page->session()) : nullptr;
    if (!line)
        return {};
    if (auto *hd = dynamic_cast<const HdDecoder *>(line->decoder()))
        return tableChanges(hd->alarmTable(), hd->alarmTableCopy(), hdtables::Table::AlarmName);
    if (auto *kf = dynamic_cast<const Kf71Decoder *>(line->decoder()))
        return tableChanges(kf->alarmTable(), kf->alarmTableCopy(), hdtables::Table::KfAlarmName);
    return {};
}

QJsonObject StationReport::identity(int number) const
{
    const ConnectionPage *page = m_station.page(number);
    if (!page || !page->session())
        return {};
    const ConnectionRecord &r = page->record();
    Session *session = page->session();
    if (auto *arx = dynamic_cast<const ArxSession *>(session)) {
        QJsonArray modules;
        for (int i = 0; i < arxModuleCount; ++i) {
            const ArxModuleIdentity &id = arx->decoder().identity(static_cast<ArxModule>(i));
            if (!id.present)
                continue;
            modules.append(QJsonObject{{QStringLiteral("module"), QLatin1String(kArxModuleNames[i])},
                                       {QStringLiteral("identified"), id.identified},
                                       {QStringLiteral("name"), id.name},
                                       {QStringLiteral("version"), id.version},
                                       {QStringLiteral("revision"), id.revision.isNull() ? QString() : QString(id.revision)},
                                       {QStringLiteral("serial"), id.serial},
                                       {QStringLiteral("idText"), id.idText}});
        }
        return QJsonObject{{QStringLiteral("modelId"), latin(r.modelId)},
                           {QStringLiteral("unitType"), r.unitType},
                           {QStringLiteral("unitFamily"), r.unitFamily},
                           {QStringLiteral("viaRelay"), r.viaRelay},
                           {QStringLiteral("modules"), modules}};
    }
    if (auto *line = dynamic_cast<const LineSession *>(session)) {
        const LineIdentity &id = line->identity();
        return QJsonObject{{QStringLiteral("identLine"), latin(r.identLine)},
                           {QStringLiteral("present"), id.present},
                           {QStringLiteral("model"), id.model},
                           {QStringLiteral("modelText"), latin(id.modelText)},
                           {QStringLiteral("serial"), latin(id.serial)},
                           {QStringLiteral("softwareVersions"), QJsonArray{latin(id.software[0]), latin(id.software[1])}},
                           {QStringLiteral("lanVersion"), latin(id.lanVersion)},
                           {QStringLiteral("option"), latin(id.option)},
                           {QStringLiteral("hasLcd"), id.hasLcd},
                           {QStringLiteral("accessLevel"), line->accessLevel()},
                           {QStringLiteral("viaRelay"), r.viaRelay}};
    }
    if (auto *kx = dynamic_cast<const Kx71Session *>(session)) {
        auto head = [](const Kx71Session::ProgramHead &h) {
            return QJsonObject{{QStringLiteral("found"), h.found}, {QStringLiteral("text"), h.text}};
        };
        return QJsonObject{{QStringLiteral("typeReply"), latin(r.kxTypeReply)},
                           {QStringLiteral("versionReply"), latin(r.kxVersionReply)},
                           {QStringLiteral("microProgram"), head(kx->microHead())},
                           {QStringLiteral("dspProgram"), head(kx->dspHead())}};
    }
    return {};
}

} // namespace report

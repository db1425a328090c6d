#include "ui/qt/TabPages.h"

#include <QApplication>
#include <QBoxLayout>
#include <algorithm>
#include <QCheckBox>
#include <QFont>
#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <QTableView>

#include "ui/Screens.h"
#include "ui/qt/ViewAdapters.h"

namespace kv {

namespace {

// How a grid looks: its column widths (the rest keep the default), the
// columns drawn like the header, whole-row selection, and whether it wraps
// long texts into taller rows instead of cutting them.
struct TGridLook {
    std::vector<int> widths;
    int fixedCols = 0;
    bool rowSelect = false;
    bool wrap = false;
    bool scrollBars = true;
    // The column that takes the width the others leave (-1: none).
    int stretch = -1;
};

// Cell texts wrap at blanks, and a word longer than its column breaks
// inside, so that no part of a text is cut off.
class TBreakingDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        QStyleOptionViewItem o(option);
        prepare(o, index);
        style(o)->drawControl(QStyle::CE_ItemViewItem, &o, painter, o.widget);
    }
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        QStyleOptionViewItem o(option);
        prepare(o, index);
        return style(o)->sizeFromContents(QStyle::CT_ItemViewItem, &o, QSize(), o.widget);
    }

private:
    static QStyle* style(const QStyleOptionViewItem& o) { return o.widget ? o.widget->style() : QApplication::style(); }
    void prepare(QStyleOptionViewItem& o, const QModelIndex& index) const
    {
        initStyleOption(&o, index);
        const int margin = style(o)->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, o.widget) + 1;
        const int width = o.rect.width() - 2 * margin;
        if (width <= 0)
            return;
        QStringList words = o.text.split(QLatin1Char(' '));
        for (QString& word : words) {
            if (o.fontMetrics.horizontalAdvance(word) <= width)
                continue;
            // A zero-width space after each character lets the line break there.
            QString breakable;
            for (QChar ch : word) {
                breakable += ch;
                breakable += QChar(0x200B);
            }
            word = breakable;
        }
        o.text = words.join(QLatin1Char(' '));
    }
};

QLabel* makeLabel(QWidget* page, const char* name, const QString& text, QWidget* buddy = nullptr)
{
    auto* label = new QLabel(text, page);
    label->setObjectName(QString::fromLatin1(name));
    if (buddy)
        label->setBuddy(buddy);
    return label;
}

QHBoxLayout* row(std::initializer_list<QWidget*> widgets, bool stretch = true)
{
    auto* layout = new QHBoxLayout;
    for (QWidget* w : widgets)
        layout->addWidget(w);
    if (stretch)
        layout->addStretch(1);
    return layout;
}

// The header grows to hold its wrapped texts.
void fitHeader(QTableView* table)
{
    QHeaderView* header = table->horizontalHeader();
    const QFontMetrics fm(header->font());
    int lines = 1;
    for (int c = 0; c < table->model()->columnCount(); ++c) {
        const QString text = table->model()->headerData(c, Qt::Horizontal).toString();
        const QRect r = fm.boundingRect(QRect(0, 0, header->sectionSize(c) - 8, 1000), Qt::TextWordWrap, text);
        lines = std::max(lines, (r.height() + fm.height() - 1) / fm.height());
    }
    header->setMinimumHeight(lines * fm.height() + 8);
}

// The height that shows every row of a table without a scroll bar.
int fullHeight(QTableView* table)
{
    int h = table->horizontalHeader()->height() + 2 * table->frameWidth();
    for (int r = 0; r < table->model()->rowCount(); ++r)
        h += table->rowHeight(r);
    return h;
}

}  // namespace

TTabPages::TTabPages(TForm1& form, const std::array<QWidget*, kTabCount>& pages, QObject* parent)
    : QObject(parent), form_(form)
{
    buildNumbers(pages[kTabNumbers]);
    buildGreetings(pages[kTabGreetings]);
    buildTime(pages[kTabTime]);
    buildMenu(pages[kTabMenu]);
    buildMail(pages[kTabMail]);
    buildSysParams(pages[kTabSysParams]);
    buildMessages(pages[kTabMessages]);
}

TTabPages::~TTabPages() = default;

// ---- pieces

namespace {

// Every adapter is a child of its widget and goes with it.
struct TBuilder {
    TForm1& form;

    QPushButton* button(QWidget* page, const char* name, const char* caption)
    {
        auto* b = new QPushButton(QString::fromUtf8(caption), page);
        b->setObjectName(QString::fromLatin1(name));
        b->setAutoDefault(false);
        TForm1& f = form;
        const std::string control = name;
        QObject::connect(b, &QPushButton::clicked, b, [&f, control] { f.Screens().Click(control); });
        return b;
    }

    QTableView* grid(QWidget* page, TGridModel& model, const TGridLook& look)
    {
        auto* table = new QTableView(page);
        table->setObjectName(QString::fromStdString(model.Name()));
        table->verticalHeader()->hide();
        table->setEditTriggers(QAbstractItemView::NoEditTriggers);
        table->setSelectionMode(QAbstractItemView::SingleSelection);
        table->setSelectionBehavior(look.rowSelect ? QAbstractItemView::SelectRows
                                                   : QAbstractItemView::SelectItems);
        // Attached once the selection behaves as it will: the current cell
        // it shows is then selected as the user's would be.
        auto* m = new TGridTableModel(model, table);
        m->SetFixedCols(look.fixedCols);
        m->Attach(table);
        TForm1& f = form;
        const std::string name = model.Name();
        m->onDoubleClick = [&f, name](int, int) { f.Screens().DoubleClick(name); };

        table->horizontalHeader()->setHighlightSections(false);
        // Header texts wrap rather than being cut in narrow columns.
        table->horizontalHeader()->setDefaultAlignment(Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter | int(Qt::TextWordWrap)));
        for (size_t c = 0; c < look.widths.size(); ++c)
            table->setColumnWidth(static_cast<int>(c), look.widths[c]);
        if (look.stretch >= 0)
            table->horizontalHeader()->setSectionResizeMode(look.stretch, QHeaderView::Stretch);
        fitHeader(table);
        const int line = table->fontMetrics().height() + 8;
        table->verticalHeader()->setMinimumSectionSize(line);
        table->verticalHeader()->setDefaultSectionSize(line);
        table->setWordWrap(look.wrap);
        if (look.wrap) {
            // Rows grow to hold their texts, now and whenever a value changes.
            table->setItemDelegate(new TBreakingDelegate(table));
            table->resizeRowsToContents();
            QObject::connect(table->horizontalHeader(), &QHeaderView::sectionResized, table,
                             [table] { table->resizeRowsToContents(); });
            QObject::connect(m, &QAbstractItemModel::dataChanged, table,
                             [table](const QModelIndex& from, const QModelIndex& to) {
                                 for (int r = from.row(); r <= to.row(); ++r)
                                     table->resizeRowToContents(r);
                             });
        } else {
            // Columns keep their widths and grow when a value needs more.
            QObject::connect(m, &QAbstractItemModel::dataChanged, table,
                             [table, widths = look.widths](const QModelIndex& from, const QModelIndex& to) {
                                 for (int c = from.column(); c <= to.column(); ++c) {
                                     const int least = c < static_cast<int>(widths.size())
                                                           ? widths[static_cast<size_t>(c)]
                                                           : table->horizontalHeader()->defaultSectionSize();
                                     table->setColumnWidth(c, std::max(least, static_cast<const QAbstractItemView*>(table)->sizeHintForColumn(c)));
                                 }
                             });
        }
        if (!look.scrollBars) {
            table->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
            table->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        }
        return table;
    }

    QLineEdit* field(QWidget* page, TTextField& model, bool grey)
    {
        auto* edit = new QLineEdit(page);
        edit->setObjectName(QString::fromStdString(model.Name()));
        edit->setReadOnly(true);
        if (grey) {
            QPalette p = edit->palette();
            p.setColor(QPalette::Base, p.color(QPalette::Window));
            edit->setPalette(p);
        }
        new TTextFieldView(model, edit);
        return edit;
    }
};

}  // namespace

// ---- "Номера"

void TTabPages::buildNumbers(QWidget* page)
{
    TBuilder b{form_};
    TCatalogue& c = form_.Catalogue();

    auto* memo = new QPlainTextEdit(page);
    memo->setObjectName(QStringLiteral("memNumbers"));
    memo->setReadOnly(true);
    memo->setAccessibleName(QStringLiteral("Номера"));
    QFont big = memo->font();
    big.setPointSizeF(big.pointSizeF() * 1.4);
    memo->setFont(big);
    new TMemoView(c.memNumbers, memo);

    auto* right = new QVBoxLayout;
    right->addWidget(b.button(page, "btnAddNum", "Добавить номер"));
    right->addWidget(b.button(page, "btnAddGroup", "Добавить группу"));
    right->addWidget(b.button(page, "btnDelNum", "Удалить номер"));
    right->addWidget(b.button(page, "btnDelGroup", "Удалить группу"));
    right->addSpacing(16);

    struct TRow {
        const char* label;
        const char* labelName;
        TTextField& field;
        const char* button;
    };
    const TRow rows[] = {
        {"Код оператора", "lblOpCode", c.edtOpCode, "btnOpCode"},
        {"Дневной номер оператора", "lblOpNumDay", c.edtOpNumDay, "btnOpNumDay"},
        {"Ночной номер оператора", "lblOpNumNight", c.edtOpNumNight, "btnOpNumNight"},
        {"Номер факса", "lblFaxNum", c.edtFaxNum, "btnFaxNum"},
        {"Пароль администратора", "lblAdmPwd", c.edtAdmPwd, "btnAdmPwd"},
    };
    auto* table = new QGridLayout;
    int r = 0;
    for (const TRow& row : rows) {
        QLineEdit* edit = b.field(page, row.field, true);
        table->addWidget(makeLabel(page, row.labelName, QString::fromUtf8(row.label), edit), r, 0);
        table->addWidget(edit, r, 1);
        table->addWidget(b.button(page, row.button, "Изменить"), r, 2);
        ++r;
    }
    table->setColumnStretch(1, 1);
    right->addLayout(table);
    right->addStretch(1);

    auto* layout = new QHBoxLayout(page);
    layout->addWidget(memo, 2);
    layout->addLayout(right, 3);
}

// ---- "Приветствия" and "Меню"

namespace {

// A page of voice menus: the grid, the hint labels (the second hidden) and
// the upload, download and delete buttons.
struct TVoiceMenuPage {
    TGridModel& grid;
    TGridLook look;
    const char* caption;
    const char* hintName;
    const char* hint;
    const TLabelModel& more;
    const char* upload;
    const char* download;
    const char* erase;
    const char* listen;
    const char* record;
    const char* speak;
};

// The voice-file buttons of a slot: transfers, then listening, recording
// and speech from a text.
QHBoxLayout* voiceButtons(TBuilder& b, QWidget* page, const char* upload, const char* download, const char* erase,
                          const char* listen, const char* record, const char* speak)
{
    auto* layout = row({b.button(page, upload, "Загрузить"), b.button(page, download, "Скачать"),
                        b.button(page, erase, "Удалить")}, false);
    layout->addSpacing(16);
    layout->addWidget(b.button(page, listen, "Прослушать"));
    layout->addWidget(b.button(page, record, "Записать"));
    layout->addWidget(b.button(page, speak, "Синтезировать"));
    layout->addStretch(1);
    return layout;
}

QTableView* buildVoiceMenuPage(TBuilder& b, QWidget* page, const TVoiceMenuPage& p, QVBoxLayout* layout)
{
    QTableView* grid = b.grid(page, p.grid, p.look);
    grid->setAccessibleName(QString::fromUtf8(p.caption));
    QLabel* hint = makeLabel(page, p.hintName, QString::fromUtf8(p.hint));
    QLabel* more = makeLabel(page, p.more.name.c_str(),
                             QStringLiteral("L - записать сообщение в ящик, G - чтение сообщений из ящика"));
    more->setVisible(p.more.visible);
    grid->setAccessibleDescription(hint->text());
    layout->addWidget(grid);
    layout->addWidget(hint);
    layout->addWidget(more);
    layout->addLayout(voiceButtons(b, page, p.upload, p.download, p.erase, p.listen, p.record, p.speak));
    return grid;
}

TGridLook keyColumns(std::vector<int> widths, int keyWidth)
{
    TGridLook look{std::move(widths), 1};
    for (int k = 0; k < 10; ++k)
        look.widths.push_back(keyWidth);
    return look;
}

}  // namespace

void TTabPages::buildGreetings(QWidget* page)
{
    TBuilder b{form_};
    TCatalogue& c = form_.Catalogue();
    auto* layout = new QVBoxLayout(page);
    QTableView* grid = buildVoiceMenuPage(
        b, page,
        {c.sgGreetings, keyColumns({94, 117}, 38), "Приветствия", "Label13",
         "Действия: М - вызов меню, N - перевод на абонента ", c.lblGreetAct, "btnGreetUpload", "btnGreetDownload",
         "btnGreetDelete", "btnGreetListen", "btnGreetRecord", "btnGreetSpeak"},
        layout);
    layout->addStretch(1);
    // As tall as its rows, and its scroll bar when the keys' texts grow wide.
    auto fit = [grid] {
        const QScrollBar* bar = grid->horizontalScrollBar();
        grid->setFixedHeight(fullHeight(grid) + (bar->maximum() > 0 ? bar->sizeHint().height() : 0));
    };
    fit();
    QObject::connect(grid->horizontalScrollBar(), &QScrollBar::rangeChanged, grid, fit);
}

void TTabPages::buildMenu(QWidget* page)
{
    TBuilder b{form_};
    TCatalogue& c = form_.Catalogue();
    auto* layout = new QVBoxLayout(page);
    QTableView* grid = buildVoiceMenuPage(
        b, page,
        {c.sgMenu, keyColumns({40, 133}, 40), "Меню", "Label1", "Действия: М - вызов подменю, N - перевод на абонента",
         c.lblMenuAct, "btnMenuUpload", "btnMenuDownload", "btnMenuDelete", "btnMenuListen", "btnMenuRecord",
         "btnMenuSpeak"},
        layout);
    layout->setStretchFactor(grid, 1);
}

// ---- "Время"

void TTabPages::buildTime(QWidget* page)
{
    TBuilder b{form_};
    TCatalogue& c = form_.Catalogue();
    QTableView* grid = b.grid(page, c.sgTime, {{120, 80, 80}, 1, false, false, false});
    grid->setFixedSize(120 + 80 + 80 + 2 * grid->frameWidth(), fullHeight(grid));

    auto* box = new QCheckBox(QString::fromStdString(c.cbHoliday.Caption()), page);
    box->setObjectName(QString::fromStdString(c.cbHoliday.Name()));
    new TCheckBoxView(c.cbHoliday, box);

    auto* layout = new QVBoxLayout(page);
    layout->addWidget(makeLabel(page, "lblSchedule", QStringLiteral("Установка графика работы"), grid));
    layout->addWidget(grid);
    layout->addSpacing(8);
    layout->addLayout(row({box}));
    layout->addLayout(row({b.button(page, "btnSetTime", "Установить часы")}));
    layout->addStretch(1);
}

// ---- "Почта"

void TTabPages::buildMail(QWidget* page)
{
    TBuilder b{form_};
    TCatalogue& c = form_.Catalogue();
    QTableView* grid = b.grid(page, c.sgMail, {{240, 100}, 0, true});
    grid->setAccessibleName(QStringLiteral("Почта"));

    QLineEdit* free = b.field(page, c.edtFreeSpace, false);
    free->setFixedWidth(80);
    auto* layout = new QVBoxLayout(page);
    layout->addWidget(grid, 1);
    layout->addLayout(row({makeLabel(page, "Label8", QStringLiteral("Объем свободной памяти:"), free), free}));
    layout->addLayout(row({b.button(page, "btnMailCreate", "Создать ящик"), b.button(page, "btnMailDelete", "Удалить ящик"),
                           b.button(page, "btnMailEdit", "Редактировать параметры")}));
}

// ---- "Системные параметры"

void TTabPages::buildSysParams(QWidget* page)
{
    TBuilder b{form_};
    TCatalogue& c = form_.Catalogue();
    QTableView* grid = b.grid(page, c.sgSysParams, {{44, 390, 170}, 1, true, true, true, 1});
    grid->setAccessibleName(QStringLiteral("Системные параметры"));

    auto* layout = new QVBoxLayout(page);
    layout->addWidget(grid, 1);
    layout->addLayout(row({b.button(page, "btnSysParams", "Редактировать")}));
}

// ---- "Замена сообщений"

void TTabPages::buildMessages(QWidget* page)
{
    TBuilder b{form_};
    TCatalogue& c = form_.Catalogue();
    TGridLook overrideLook{{64, 136}, 1, false, true, false};
    for (int line = 0; line < 6; ++line)
        overrideLook.widths.push_back(74);
    QTableView* replace = b.grid(page, c.sgGreetOverride, overrideLook);
    int width = 2 * replace->frameWidth();
    for (int w : overrideLook.widths)
        width += w;
    replace->setFixedWidth(width);
    // The rows grow with their texts; the grid keeps showing all of them.
    auto fit = [replace] { replace->setFixedHeight(fullHeight(replace)); };
    fit();
    QObject::connect(replace->verticalHeader(), &QHeaderView::sectionResized, replace, fit);

    QTableView* messages = b.grid(page, c.sgMessages, {{300, 100, 96, 100}, 0, true, true, true, 0});

    auto* layout = new QVBoxLayout(page);
    // The replacement grid shows all its columns without a scroll bar: it
    // takes the page's whole width.
    layout->setContentsMargins(4, 6, 4, 6);
    layout->addWidget(makeLabel(page, "Label2", QStringLiteral("Замена приветствий голосовыми меню"), replace));
    layout->addWidget(replace);
    layout->addLayout(row({b.button(page, "btnGreetOverride", "Редактировать")}));
    layout->addWidget(makeLabel(page, "Label11", QStringLiteral("Замена служебных сообщений"), messages));
    layout->addWidget(messages, 1);
    layout->addLayout(voiceButtons(b, page, "btnMessageUpload", "btnMessageDownload", "btnMessageDelete",
                                   "btnMessageListen", "btnMessageRecord", "btnMessageSpeak"));
}

}  // namespace kv

#include "ui/MainWindow.h"

#include "ui/Fonts.h"
#include "ui/HistoryModel.h"
#include "ui/MainWindowLayout.h"
#include "ui/StyledButton.h"

#include <QCloseEvent>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QScreen>
#include <QScrollBar>
#include <QTreeView>

#include <functional>
#include <utility>

// The pictures are compiled into this static library; the linker keeps them
// only when something refers to them.
static void loadPictures() {
    Q_INIT_RESOURCE(kavlento);
}

namespace kavlento::ui {

const QColor MainWindow::kBackground(181, 182, 181);

namespace {

const QColor kLabelRed(255, 0, 0);
const QColor kNoticeWhite(255, 255, 255);
const QString kNotice = QStringLiteral(
    "UYARI: Eğerki Sitemizden Birden Fazla Program Satın Aldıysanız Her Programın Yedek Alma "
    "Yolunu Farklı Seçmenizi Önemle Uyarırız.Aksi Halde Çakışmalara Yol Açabilir.Böyle Bir "
    "Durum Soncunda Veri Kayıpları Yaşanacaktır.");

constexpr int kClientWidth = 558;
constexpr int kClientHeight = 583;

ButtonLook plainLook() {
    return ButtonLook{};
}

ButtonLook backupLook() {
    ButtonLook look;
    look.text = QColor(255, 0, 0);
    look.corners = ButtonCorners::Rounded;
    return look;
}

// Names a control and puts it where the window's design has it.
template <typename W> W* placed(W* widget, const char* name) {
    widget->setObjectName(QString::fromLatin1(name));
    widget->setGeometry(designedGeometry(name));
    return widget;
}

QGroupBox* groupBox(QWidget* parent, const char* name, const QString& title) {
    auto* box = placed(new QGroupBox(title, parent), name);
    box->setFocusPolicy(Qt::NoFocus);
    return box;
}

QLineEdit* readOnlyField(QWidget* parent, const char* name) {
    auto* field = placed(new QLineEdit(parent), name);
    field->setReadOnly(true);
    return field;
}

QLabel* label(QWidget* parent, const char* name, const QString& text, const QFont& font,
              const QColor& color) {
    auto* l = placed(new QLabel(text, parent), name);
    l->setFont(font);
    l->setWordWrap(true);
    l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    QPalette palette = l->palette();
    palette.setColor(QPalette::WindowText, color);
    l->setPalette(palette);
    return l;
}

StyledButton* button(QWidget* parent, const char* name, const QString& caption,
                     const ButtonLook& look) {
    auto* b = new StyledButton(QString::fromLatin1(name), caption, look, parent);
    b->setGeometry(designedGeometry(name));
    b->setFont(sansSerifBold(8.25));
    return b;
}

void setBackground(QWidget* widget, const QColor& color) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, color);
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
}

// A click selects a row and leaves the list where it is: the row is made
// visible upwards and downwards, never sideways.
//
// A row the user chooses from the keyboard counts as a click on it, so that a
// user without a mouse can enable the entry buttons again after a removal.
// Only the user's own key counts: a reload that moves the current row does not.
class HistoryView : public QTreeView {
public:
    HistoryView(QWidget* parent, std::function<void(const QModelIndex&)> chosen)
        : QTreeView(parent), chosen_(std::move(chosen)) {}

    void scrollTo(const QModelIndex& index, ScrollHint hint = EnsureVisible) override {
        const int sideways = horizontalScrollBar()->value();
        QTreeView::scrollTo(index, hint);
        horizontalScrollBar()->setValue(sideways);
    }

protected:
    void keyPressEvent(QKeyEvent* event) override {
        const QModelIndex before = currentIndex();
        QTreeView::keyPressEvent(event);
        const QModelIndex after = currentIndex();
        // Space chooses the current row without moving; Ctrl+Space may instead
        // clear the selection, and a row that is not selected is not chosen.
        const bool choosing =
            after != before || event->key() == Qt::Key_Space || event->key() == Qt::Key_Select;
        if (choosing && after.isValid() && selectionModel()->isSelected(after)) {
            chosen_(after);
        }
    }

private:
    const std::function<void(const QModelIndex&)> chosen_;
};

QTreeView* historyList(QWidget* parent, HistoryModel* model,
                       std::function<void(const QModelIndex&)> chosen) {
    auto* list = placed(new HistoryView(parent, std::move(chosen)), "ListView1");
    list->setModel(model);
    list->setFont(sansSerifBold(8.25));
    list->setRootIsDecorated(false);
    list->setItemsExpandable(false);
    list->setUniformRowHeights(true);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    list->header()->setStretchLastSection(false);
    list->header()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    list->setColumnWidth(0, 96);
    list->setColumnWidth(1, 96);
    list->setColumnWidth(2, 400);
    return list;
}

} // namespace

MainWindow::MainWindow(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::MSWindowsFixedSizeDialogHint),
      settingsBox_(groupBox(this, "Frame2", QStringLiteral("Yedekleme Seçenekleri"))),
      targetField_(readOnlyField(settingsBox_, "Text1")),
      programFolderField_(readOnlyField(settingsBox_, "Text2")),
      backupButton_(button(settingsBox_, "Command2", QStringLiteral("YEDEK AL"), backupLook())),
      chooseTargetButton_(
          button(settingsBox_, "Command1", QStringLiteral("GÖZAT..."), plainLook())),
      targetLabel_(label(settingsBox_, "Label1", QStringLiteral("Nereye Yedeklensin"),
                         sansSerifBold(8.25), kLabelRed)),
      programFolderLabel_(label(settingsBox_, "Label3", QStringLiteral("Yedeklenen:"),
                                sansSerifBold(8.25), kLabelRed)),
      history_(new HistoryModel(this)),
      historyList_(
          historyList(this, history_, [this](const QModelIndex& row) { onItemClicked(row); })),
      entryButtonsBox_(groupBox(this, "Frame3", QString())),
      removeEntryButton_(
          button(entryButtonsBox_, "Command3", QStringLiteral("İPTAL ET"), plainLook())),
      restoreEntryButton_(
          button(entryButtonsBox_, "Command4", QStringLiteral("GERİ YÜKLE"), plainLook())),
      restoreFileButton_(
          button(entryButtonsBox_, "Command6", QStringLiteral("GÖZAT..."), plainLook())),
      closeButton_(button(entryButtonsBox_, "Command5", QStringLiteral("KAPAT"), plainLook())),
      noticeLabel_(label(this, "Label2", kNotice, tahomaBold(), kNoticeWhite)),
      banner_(placed(new QLabel(this), "Image2")) {
    loadPictures();
    setObjectName(QStringLiteral("Radiz_Ev_anaform"));
    setWindowTitle(QStringLiteral("Kavlento"));
    setWindowIcon(QIcon(QStringLiteral(":/kavlento/icon.png")));
    setFixedSize(kClientWidth, kClientHeight);

    settingsBox_->setFont(sansSerifBold(8.25));
    banner_->setPixmap(QPixmap(QStringLiteral(":/kavlento/banner.png")));

    // Pictures and labels lie under the windowed controls: the list covers the
    // banner's top edge and the lower group box covers the notice's last line.
    noticeLabel_->lower();
    banner_->lower();

    describeForScreenReaders();

    setBackground(this, kBackground);
    setBackground(settingsBox_, kBackground);
    setBackground(entryButtonsBox_, kBackground);

    setTabOrder(historyList_, removeEntryButton_);
    setTabOrder(removeEntryButton_, restoreEntryButton_);
    setTabOrder(restoreEntryButton_, restoreFileButton_);
    setTabOrder(restoreFileButton_, closeButton_);
    setTabOrder(closeButton_, backupButton_);
    setTabOrder(backupButton_, programFolderField_);
    setTabOrder(programFolderField_, targetField_);
    setTabOrder(targetField_, chooseTargetButton_);

    connect(historyList_, &QTreeView::clicked, this, &MainWindow::onItemClicked);
    connect(chooseTargetButton_, &QPushButton::clicked, this, &MainWindow::chooseTargetClicked);
    connect(backupButton_, &QPushButton::clicked, this, &MainWindow::backupClicked);
    connect(removeEntryButton_, &QPushButton::clicked, this, &MainWindow::removeEntryClicked);
    connect(restoreEntryButton_, &QPushButton::clicked, this, &MainWindow::restoreEntryClicked);
    connect(restoreFileButton_, &QPushButton::clicked, this, &MainWindow::restoreFileClicked);
    connect(closeButton_, &QPushButton::clicked, this, &MainWindow::closeClicked);
}

// What a screen reader says of each control: what it is and what it does.
void MainWindow::describeForScreenReaders() {
    const auto describe = [](QWidget* widget, const QString& name, const QString& description) {
        widget->setAccessibleName(name);
        widget->setAccessibleDescription(description);
    };
    setAccessibleName(QStringLiteral("Kavlento"));
    setAccessibleDescription(QStringLiteral("Program klasörünü yedekler ve yedekten geri yükler."));
    describe(settingsBox_, QStringLiteral("Yedekleme Seçenekleri"),
             QStringLiteral("Neyin yedeklendiği ve yedeklerin nereye alındığı."));
    describe(programFolderField_, QStringLiteral("Yedeklenen klasör"),
             QStringLiteral("Yedeği alınan program klasörü. Değiştirilemez."));
    describe(targetField_, QStringLiteral("Yedeklerin alındığı klasör"),
             QStringLiteral("Yedeklerin alındığı hedef klasör. Yanındaki GÖZAT düğmesiyle "
                            "seçilir."));
    describe(backupButton_, QStringLiteral("Yedek al"),
             QStringLiteral("Program klasörünün yedeğini hedef klasöre alır."));
    describe(chooseTargetButton_, QStringLiteral("Hedef klasörü seç"),
             QStringLiteral("Yedeklerin alınacağı klasörü seçmek için klasör penceresini "
                            "açar."));
    describe(targetLabel_, QStringLiteral("Nereye Yedeklensin"),
             QStringLiteral("Hedef klasör alanının adı."));
    describe(programFolderLabel_, QStringLiteral("Yedeklenen"),
             QStringLiteral("Yedeklenen klasör alanının adı."));
    targetLabel_->setBuddy(targetField_);
    programFolderLabel_->setBuddy(programFolderField_);
    describe(historyList_, QStringLiteral("Yedekleme geçmişi"),
             QStringLiteral("Alınan yedekler: tarih, saat ve yedek dosyasının yeri. Bir satır "
                            "seçip Geri yükle ya da Geçmişten sil düğmesine basın."));
    describe(entryButtonsBox_, QStringLiteral("Geçmişteki yedekler için işlemler"),
             QStringLiteral("Seçili yedeği geçmişten silme, geri yükleme, dosyadan geri "
                            "yükleme ve kapatma düğmeleri."));
    describe(removeEntryButton_, QStringLiteral("Geçmişten sil"),
             QStringLiteral("Seçili yedeği geçmiş listesinden siler. Yedek dosyası silinmez."));
    describe(restoreEntryButton_, QStringLiteral("Geri yükle"),
             QStringLiteral("Seçili yedeği program klasörüne geri yükler."));
    describe(restoreFileButton_, QStringLiteral("Dosyadan geri yükle"),
             QStringLiteral("Bir yedek dosyası seçmek için dosya penceresini açar ve onu "
                            "program klasörüne geri yükler."));
    describe(closeButton_, QStringLiteral("Kapat"),
             QStringLiteral("Hedef klasörü kaydeder ve programı kapatır."));
    describe(noticeLabel_, QStringLiteral("Uyarı"), noticeLabel_->text());
    describe(banner_, QStringLiteral("Kavlento amblemi"),
             QStringLiteral("Kavlento'nun adı ve amblemi."));
}

QString MainWindow::targetText() const {
    return targetField_->text();
}

void MainWindow::setTargetText(const QString& text) {
    targetField_->setText(text);
}

void MainWindow::setProgramFolderText(const QString& text) {
    programFolderField_->setText(text);
}

void MainWindow::showHistory(store::History history) {
    history_->show(std::move(history));
}

int MainWindow::historyCount() const {
    return history_->rowCount();
}

std::optional<store::HistoryRecord> MainWindow::selectedHistoryRecord() const {
    const QModelIndexList selected = historyList_->selectionModel()->selectedRows();
    if (selected.isEmpty()) {
        return std::nullopt;
    }
    return history_->history().record(static_cast<std::size_t>(selected.first().row()));
}

void MainWindow::setEntryButtonsEnabled(bool enabled) {
    restoreEntryButton_->setEnabled(enabled);
    removeEntryButton_->setEnabled(enabled);
}

void MainWindow::onItemClicked(const QModelIndex& item) {
    if (item.row() + 1 > 0) {
        setEntryButtonsEnabled(true);
    }
}

void MainWindow::showCentered() {
    const QScreen* screen = this->screen();
    if (screen != nullptr) {
        QRect frame = frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
    historyList_->setFocus(Qt::OtherFocusReason);
    show();
}

void MainWindow::closeEvent(QCloseEvent* event) {
    emit closeRequested();
    event->accept();
}

} // namespace kavlento::ui

// The control kinds on Qt Widgets, the template's fonts and colours on
// screen, and the per-kind properties. A window is put together from its
// template in build_window.cpp.
#include <QCalendarWidget>
#include <QFontDatabase>
#include <QHeaderView>
#include <QKeyEvent>
#include <QPainter>
#include <QRegularExpressionValidator>
#include <cmath>
#include <cstdio>

#include "forms/qt/live_p.h"
#include "runtime/builtins.h"
#include "runtime/clock.h"
#include "runtime/fatal.h"
#include "runtime/gbk.h"
#include "runtime/heap.h"

namespace forms::detail {
namespace {

// Screen metrics the templates were laid out for: 96 pixels per inch, so a
// point size turns into the same pixel height everywhere.
constexpr double kDesignDpi = 96.0;
constexpr int kMinDropDownHeight = 160;

QString qs(const std::string& gbk) { return fromGbk(gbk); }

// --- values of property writes --------------------------------------------------

QString argText(const rt::Arg& v) {
  if (v.kind == rt::kText) return fromGbk(rt::textValue(v));
  return fromGbk(rt::valueToText(v));
}

int argInt(const rt::Arg& v) {
  double d = 0;
  if (rt::numericValue(v, &d)) return int(d);
  if (v.kind == rt::kBool) return v.lo != 0 ? 1 : 0;
  return int(rt::valueToNumber(v));
}

[[noreturn]] void notBuilt(const Item& it, int prop, int sub, bool writing) {
  char buf[120];
  std::snprintf(buf, sizeof buf, "kind 0x%08X property %d sub-field %d (%s)", unsigned(it.kind), prop, sub,
                writing ? "write" : "read");
  std::string msg = GBK("窗口组件属性尚未实现：");
  msg += buf;
  rt::fatalError(msg.c_str());
}

// Date-times count days from 1899-12-30.
const QDate kEpoch(1899, 12, 30);

}  // namespace

// --- fonts and colours ---------------------------------------------------------

}  // namespace forms::detail

QString forms::screenFamily(const std::string& gbkFace) {
  static std::map<std::string, QString> cache;
  auto hit = cache.find(gbkFace);
  if (hit != cache.end()) return hit->second;
  const QStringList families = QFontDatabase::families();
  QString want = gbkFace.empty() ? QString::fromUtf8("宋体") : fromGbk(gbkFace);
  QString pick;
  // 宋体 itself where it is installed; else a Song (Ming) face whose
  // half-width characters are exactly half a Chinese character, as in
  // 宋体, since the forms, bills and reports line up their headings with
  // spaces and digits; the Noto faces (proportional Latin) only when no
  // such face is there.
  const QStringList candidates = {want,
                                  QString::fromUtf8("宋体"),
                                  "SimSun",
                                  "NSimSun",
                                  "AR PL UMing CN",
                                  "AR PL New Sung",
                                  "Noto Serif CJK SC",
                                  "Noto Sans CJK SC",
                                  "WenQuanYi Micro Hei"};
  for (const QString& c : candidates)
    if (families.contains(c, Qt::CaseInsensitive)) {
      pick = c;
      break;
    }
  if (pick.isEmpty()) pick = QFontDatabase::systemFont(QFontDatabase::GeneralFont).family();
  cache[gbkFace] = pick;
  return pick;
}

namespace forms::detail {

int screenFontPixels(int32_t storedHeight) {
  // A positive height is a cell height: the character is about 85% of it.
  double px = storedHeight < 0 ? -double(storedHeight) : storedHeight * 0.85;
  int scaled = int(std::lround(px * kTemplateFontScale));
  return scaled > 0 ? scaled : kDefaultFontPixels;
}

QFont templateFont(const Font& f) {
  QFont font(screenFamily(f.present ? f.face : std::string()));
  if (!f.present) {
    font.setPixelSize(kDefaultFontPixels);
    return font;
  }
  font.setPixelSize(screenFontPixels(f.height));
  if (f.weight > 0) font.setWeight(QFont::Weight(std::clamp(f.weight, 1, 1000)));
  font.setItalic(f.italic != 0);
  font.setUnderline(f.underline != 0);
  font.setStrikeOut(f.strikeOut != 0);
  return font;
}

QColor templateColor(uint32_t word, const QColor& systemFallback) {
  if ((word >> 24) == 0xFF) {
    switch (word & 0xFF) {
      case 5:
        return Qt::white;  // window background
      case 8:
        return Qt::black;  // window text
      default:
        return systemFallback;
    }
  }
  return QColor(int(word & 0xFF), int((word >> 8) & 0xFF), int((word >> 16) & 0xFF));
}

// --- widgets ------------------------------------------------------------------

EditBox::EditBox(const Item& it, Raiser r, QWidget* parent) : QLineEdit(parent), raise_(r) {
  setFont(templateFont(it.font));
  setText(qs(it.text));
  setFrame(it.borderStyle != 0);
  QPalette pal = palette();
  pal.setColor(QPalette::Text, templateColor(it.textColor, pal.color(QPalette::Text)));
  pal.setColor(QPalette::Base, templateColor(it.editBackColor, pal.color(QPalette::Base)));
  setPalette(pal);
  switch (it.inputMode) {
    case kInputReadOnly:
      // Shown, not typed into: a click may still select its text to copy,
      // but Tab passes it by.
      setReadOnly(true);
      setFocusPolicy(Qt::ClickFocus);
      break;
    case kInputPassword:
      setEchoMode(QLineEdit::Password);
      setStyleSheet(QString("QLineEdit { lineedit-password-character: %1; }")
                        .arg(it.passwordChar ? int(it.passwordChar) : int('*')));
      break;
    case kInputInteger:
      setValidator(new QRegularExpressionValidator(QRegularExpression("-?[0-9]*"), this));
      break;
    case kInputDateTime:
      setValidator(
          new QRegularExpressionValidator(QRegularExpression(QString::fromUtf8("[0-9 ./:\\-年月日时分秒]*")), this));
      break;
    default:
      break;
  }
  // The user's edits; module code's writes go through setContent.
  connect(this, &QLineEdit::textEdited, this, [this] { raise_(kEvFirst); });
}

void EditBox::setContent(const QString& s) {
  setText(s);
  raise_(kEvFirst);
}

ComboBox::ComboBox(const Item& it, QWidget* parent) : QComboBox(parent) {
  setFont(templateFont(it.font));
  sorted_ = it.comboSorted;
  setType(it.comboType);
  for (const std::string& s : it.comboItems) addEntry(qs(s), 0);
  setCurrentIndex(-1);
  if (isEditable()) setEditText(QString());
}

void ComboBox::setType(int t) {
  type_ = t;
  setEditable(t != 2);
  // Enter in the box must not add the typed text to the list.
  setInsertPolicy(QComboBox::NoInsert);
  // A simple box keeps its drop-down button: its list cannot stand open
  // below a box one line high, so the button is how the list is reached
  // with the mouse (the arrow keys choose from it too).
}

int ComboBox::addEntry(const QString& s, int32_t data) {
  int at = count();
  if (sorted_) {
    at = 0;
    while (at < count() && QString::compare(itemText(at), s, Qt::CaseInsensitive) <= 0) ++at;
  }
  // Adding chooses nothing: Qt would make the first item of an empty box
  // current, and the box's text stays as it was.
  QString keep = isEditable() ? currentText() : QString();
  bool none = currentIndex() < 0;
  insertItem(at, s, QVariant(int(data)));
  if (none) setCurrentIndex(-1);
  if (isEditable()) setEditText(keep);
  return at;
}

QString ComboBox::content() const { return currentText(); }

void ComboBox::setContent(const QString& s) {
  if (isEditable()) {
    int i = findText(s, Qt::MatchExactly);
    setCurrentIndex(i);
    setEditText(s);
  } else {
    setCurrentIndex(findText(s, Qt::MatchExactly));
  }
}

void ComboBox::showPopup() {
  if (type_ == 0) return;  // a simple box never drops down
  QComboBox::showPopup();
  if (QWidget* popup = view() ? view()->window() : nullptr; popup && popup != window()) {
    if (popup->height() < kMinDropDownHeight) popup->resize(popup->width(), kMinDropDownHeight);
  }
}

void ComboBox::keyPressEvent(QKeyEvent* e) {
  // Enter with the list closed belongs to the window (its default button),
  // as in an edit box.
  if ((e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) && !(view() && view()->isVisible())) {
    e->ignore();
    return;
  }
  // The simple box steps through its items with Up and Down (the base
  // class does that) but F4 and Alt+Down, which would drop the list, do
  // nothing.
  if (type_ == 0 && (e->key() == Qt::Key_F4 ||
                     ((e->key() == Qt::Key_Down || e->key() == Qt::Key_Up) && (e->modifiers() & Qt::AltModifier)))) {
    e->accept();
    return;
  }
  QComboBox::keyPressEvent(e);
}

Button::Button(const Item& it, QWidget* parent) : QPushButton(parent) {
  setFont(templateFont(it.font));
  QString caption = qs(it.text);
  setText(caption.replace('&', "&&"));
  setAutoDefault(false);
  setType(it.buttonType);
}

void Button::setType(int t) {
  type_ = t;
  setDefault(t == 1);
}

Label::Label(const Item& it, bool transparent, QWidget* parent) : QLabel(parent) {
  setFont(templateFont(it.font));
  setText(qs(it.text));
  setTextFormat(Qt::PlainText);
  setAlignment(Qt::AlignLeft | Qt::AlignTop);
  // A label with room for two lines wraps its text; a one-line label keeps
  // its text on one line and grows to show all of it (captions designed for
  // a slightly narrower face must not be cut or broken).
  QFontMetrics fm(font());
  bool multiLine = it.height >= 2 * fm.height();
  setWordWrap(multiLine);
  sized_ = !multiLine;
  // A one-line caption that is wider than its rectangle even at the common
  // size (the login window's title line) is drawn smaller, down to the
  // default size, before the label grows over its neighbours or is cut by
  // the box it sits in.
  if (!multiLine && !text().isEmpty()) {
    QFont f = font();
    auto inkWidth = [this](const QFont& font) {
      QRect ink = QFontMetrics(font).boundingRect(text());
      return ink.x() + ink.width();
    };
    while (f.pixelSize() > kDefaultFontPixels && inkWidth(f) > it.width) f.setPixelSize(f.pixelSize() - 1);
    setFont(f);
  }
  designWidth_ = it.width;
  designHeight_ = it.height;
  // A transparent label draws its text straight over the window's
  // background picture; a plain label fills its own rectangle.
  setAutoFillBackground(!transparent);
}

void Label::mousePressEvent(QMouseEvent* e) { e->accept(); }

void Label::place(const QRect& r) {
  QRect g = r;
  if (sized_) {
    QFontMetrics fm(font());
    g.setWidth(std::max(r.width(), fm.horizontalAdvance(text()) + 2));
    g.setHeight(std::max(r.height(), fm.height()));
  }
  setGeometry(g);
}

void Label::setCaption(const QString& s) {
  setText(s);
  if (sized_) place(QRect(pos(), QSize(std::max(1, designWidth_), std::max(1, designHeight_))));
}

ShapeBox::ShapeBox(const Item& it, QWidget* parent) : QFrame(parent) {
  setFrameStyle((it.shape == 1 ? QFrame::HLine : QFrame::Box) | QFrame::Plain);
  setLineWidth(1);
  QPalette pal = palette();
  pal.setColor(QPalette::WindowText, templateColor(it.lineColor, Qt::black));
  setPalette(pal);
}

GroupBox::GroupBox(const Item& it, QWidget* parent) : QGroupBox(parent) {
  setFont(templateFont(it.font));
  setTitle(qs(it.text));
}

DatePicker::DatePicker(const Item& it, QWidget* parent) : QDateEdit(parent) {
  setFont(templateFont(it.font));
  // Chinese month and day names in the calendar, whatever the default.
  const QLocale chinese(QLocale::Chinese, QLocale::China);
  setLocale(chinese);
  setCalendarPopup(true);
  if (QCalendarWidget* cal = calendarWidget()) cal->setLocale(chinese);
  setDisplayFormat(QString::fromUtf8("yyyy年M月d日"));
  setMinimumDate(QDate(1753, 1, 1));
  setValue(std::floor(rt::clockNow()));  // today when the window opens
}

double DatePicker::value() const { return double(kEpoch.daysTo(date())); }

void DatePicker::setValue(double dateTime) {
  if (!std::isfinite(dateTime)) return;
  setDate(kEpoch.addDays(qint64(std::floor(dateTime))));
}

ListModel::ListModel(std::vector<QString> captions, std::vector<Qt::Alignment> align, QObject* parent)
    : QAbstractTableModel(parent), captions_(std::move(captions)), align_(std::move(align)) {}

int ListModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : int(rows_.size()); }

int ListModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : int(align_.size()); }

QVariant ListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || size_t(index.row()) >= rows_.size()) return QVariant();
  const size_t column = size_t(index.column());
  if (role == Qt::DisplayRole) return fromGbk(rows_[size_t(index.row())].cells[column]);
  if (role == Qt::TextAlignmentRole) return QVariant::fromValue(align_[column]);
  if (role == Qt::BackgroundRole) {
    const uint32_t rgb = rows_[size_t(index.row())].background;
    if (rgb != kNoBackground) return QBrush(QColor(QRgb(rgb)));
  }
  return QVariant();
}

QVariant ListModel::headerData(int section, Qt::Orientation o, int role) const {
  if (o != Qt::Horizontal || section < 0 || size_t(section) >= align_.size()) return QVariant();
  if (role == Qt::DisplayRole && size_t(section) < captions_.size()) return captions_[size_t(section)];
  if (role == Qt::TextAlignmentRole) return QVariant::fromValue(align_[size_t(section)]);
  return QVariant();
}

Qt::ItemFlags ListModel::flags(const QModelIndex& index) const {
  return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
}

void ListModel::insert(int index, Row row) {
  beginInsertRows(QModelIndex(), index, index);
  rows_.insert(rows_.begin() + index, std::move(row));
  endInsertRows();
}

void ListModel::setCell(int row, int column, std::string gbk) {
  rows_[size_t(row)].cells[size_t(column)] = std::move(gbk);
  const QModelIndex at = index(row, column);
  emit dataChanged(at, at, {Qt::DisplayRole});
}

void ListModel::setBackground(int row, uint32_t rgb) {
  rows_[size_t(row)].background = rgb;
  emit dataChanged(index(row, 0), index(row, columnCount() - 1), {Qt::BackgroundRole});
}

void ListModel::replaceAll(std::deque<Row> rows) {
  beginResetModel();
  rows_.swap(rows);
  endResetModel();
}

ListView::ListView(const Item& it, Raiser r, QWidget* parent) : QTreeView(parent) {
  setFont(templateFont(it.font));
  setRootIsDecorated(false);
  setItemsExpandable(false);
  setIndentation(0);
  setUniformRowHeights(true);
  setAllColumnsShowFocus(true);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  header()->setStretchLastSection(false);
  header()->setSectionsMovable(false);
  header()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  std::vector<QString> captions;
  std::vector<Qt::Alignment> align;
  for (const ListColumn& c : it.columns) {
    Qt::Alignment a = c.alignment == 1 ? Qt::AlignHCenter : c.alignment == 2 ? Qt::AlignRight : Qt::AlignLeft;
    align.push_back(a | Qt::AlignVCenter);
    captions.push_back(qs(c.caption));
  }
  if (it.columns.empty()) {
    align.push_back(Qt::AlignLeft | Qt::AlignVCenter);
    setHeaderHidden(true);  // no columns: no header row
  }
  model_ = new ListModel(std::move(captions), std::move(align), this);
  setModel(model_);
  for (size_t i = 0; i < it.columns.size(); ++i) header()->resizeSection(int(i), it.columns[i].width);
  // A double-click on a row; a click elsewhere in the list raises nothing.
  connect(this, &QTreeView::doubleClicked, this, [r](const QModelIndex&) { r(kEvDoubleClick); });
}

void ListView::clearRows() {
  pending_.clear();
  model_->replaceAll({});
  if (!filling_) {
    filling_ = true;
    // Whatever the handler does not read itself is shown at the next turn.
    QMetaObject::invokeMethod(
        this, [this] { flush(); }, Qt::QueuedConnection);
  }
}

void ListView::flush() {
  if (!filling_) return;
  filling_ = false;
  model_->replaceAll(std::move(pending_));
  pending_.clear();
}

bool ListView::event(QEvent* e) {
  // Painted, clicked or asked about by the platform: with every row.
  flush();
  return QTreeView::event(e);
}

int ListView::insertRow(int index, std::string gbkCaption, int32_t image, int32_t stateImage, int32_t indent,
                        int32_t data) {
  if (index < 0 || index > rowCount()) index = rowCount();
  ListModel::Row row;
  row.cells.resize(size_t(columnCount()));
  row.cells[0] = std::move(gbkCaption);
  row.image = image;
  row.stateImage = stateImage;
  row.indent = indent;
  row.data = data;
  if (filling_)
    pending_.insert(pending_.begin() + index, std::move(row));
  else
    model_->insert(index, std::move(row));
  return index;
}

bool ListView::setCellText(int row, int column, std::string gbk) {
  if (row < 0 || row >= rowCount() || column < 0 || column >= columnCount()) return false;
  if (filling_)
    pending_[size_t(row)].cells[size_t(column)] = std::move(gbk);
  else
    model_->setCell(row, column, std::move(gbk));
  return true;
}

bool ListView::setRowBackground(int row, uint32_t rgb) {
  if (row < 0 || row >= rowCount()) return false;
  if (filling_)
    pending_[size_t(row)].background = rgb;
  else
    model_->setBackground(row, rgb);
  return true;
}

int ListView::selectedRow() {
  flush();
  const QModelIndexList sel = selectionModel()->selectedRows();
  return sel.isEmpty() ? -1 : sel.front().row();
}

void ListView::selectRow(int row) {
  flush();
  clearSelection();
  if (row < 0 || row >= model_->rowCount()) return;
  const QModelIndex at = model_->index(row, 0);
  setCurrentIndex(at);
  selectionModel()->select(at, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

ListItemInfo ListView::info(int row) {
  flush();
  ListItemInfo out;
  if (row < 0 || row >= model_->rowCount()) return out;
  const ListModel::Row& r = model_->row(row);
  out.texts = r.cells;
  out.data = r.data;
  out.image = r.image;
  out.stateImage = r.stateImage;
  out.indent = r.indent;
  out.background = r.background;
  return out;
}

DrawPanel::DrawPanel(const Item& it, QWidget* parent) : QWidget(parent) {
  font_ = templateFont(it.font);
  points_ = int(std::lround(font_.pixelSize() * 72.0 / kDesignDpi));
  surface_ = QImage(std::max(1, it.width), std::max(1, it.height), QImage::Format_RGB32);
  surface_.fill(back_);
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void DrawPanel::clearArea(std::optional<QRect> r) {
  QPainter p(&surface_);
  p.fillRect(r ? *r : surface_.rect(), back_);
  if (!r) drawn_.clear();
  pos_ = r ? r->topLeft() : QPoint(0, 0);
  update();
}

void DrawPanel::textAt(std::optional<int> x, std::optional<int> y, const std::vector<QString>& texts) {
  if (x) pos_.setX(*x);
  if (y) pos_.setY(*y);
  QPainter p(&surface_);
  p.setFont(font_);
  p.setPen(fore_);
  QFontMetrics fm(font_);
  for (const QString& t : texts) {
    p.drawText(QPoint(pos_.x(), pos_.y() + fm.ascent()), t);
    PanelDrawn d;
    d.x = pos_.x();
    d.y = pos_.y();
    d.text = toGbk(t);
    d.points = points_;
    d.width = fm.horizontalAdvance(t);
    pos_.rx() += d.width;
    drawn_.push_back(std::move(d));
  }
  update();
}

void DrawPanel::line(int x1, int y1, int x2, int y2) {
  QPainter p(&surface_);
  p.setPen(QPen(fore_, 1));
  p.drawLine(x1, y1, x2, y2);
  PanelDrawn d;
  d.op = PanelDrawn::Line;
  d.x = x1, d.y = y1, d.x2 = x2, d.y2 = y2;
  drawn_.push_back(std::move(d));
  update();
}

void DrawPanel::setPointSize(int points) {
  if (points <= 0) return;
  points_ = points;
  font_.setPixelSize(std::max(1, int(std::lround(points * kDesignDpi / 72.0))));
}

void DrawPanel::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), back_);
  p.drawImage(0, 0, surface_);
}

void DrawPanel::resizeEvent(QResizeEvent*) {
  // The drawing survives a resize; a larger panel gets more background.
  if (width() <= surface_.width() && height() <= surface_.height()) return;
  QImage bigger(std::max(width(), surface_.width()), std::max(height(), surface_.height()), QImage::Format_RGB32);
  bigger.fill(back_);
  QPainter(&bigger).drawImage(0, 0, surface_);
  surface_ = bigger;
}

ClientArea::ClientArea(const Item& window, QWidget* parent) : QWidget(parent) {
  back_ = templateColor(window.backColor, palette().color(QPalette::Window));
  if (!window.picture.empty())
    picture_.loadFromData(reinterpret_cast<const uchar*>(window.picture.data()), uint(window.picture.size()));
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void ClientArea::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), back_);
  if (!picture_.isNull()) p.drawTiledPixmap(rect(), picture_);  // tiled from the top-left
}

// --- properties -------------------------------------------------------------------

rt::Arg readControlProperty(LiveControl& c, int prop) {
  const Item& it = *c.item;
  QWidget* w = c.widget;
  switch (it.kind) {
    case kEditBoxKind:
      if (prop == prop::kEditContent) return rt::makeTextResult(toGbk(static_cast<EditBox*>(w)->text()));
      break;
    case kComboBoxKind:
      if (prop == prop::kComboType) return rt::makeInt(static_cast<ComboBox*>(w)->type());
      if (prop == prop::kComboContent) return rt::makeTextResult(toGbk(static_cast<ComboBox*>(w)->content()));
      break;
    case kLabelKind:
      if (prop == prop::kLabelCaption) return rt::makeTextResult(toGbk(static_cast<Label*>(w)->text()));
      break;
    case kButtonKind:
      if (prop == prop::kButtonType) return rt::makeInt(static_cast<Button*>(w)->type());
      break;
    case kDatePickerKind:
      if (prop == prop::kDateValue) return rt::makeDateTime(static_cast<DatePicker*>(w)->value());
      break;
    case kListViewKind:
      if (prop == prop::kListSelected) return rt::makeInt(static_cast<ListView*>(w)->selectedRow());
      break;
    default:
      break;
  }
  notBuilt(it, prop, -1, false);
}

void writeControlProperty(LiveControl& c, int prop, int subField, const rt::Arg& v) {
  const Item& it = *c.item;
  QWidget* w = c.widget;
  switch (it.kind) {
    case kEditBoxKind:
      if (prop == prop::kEditContent) return static_cast<EditBox*>(w)->setContent(argText(v));
      break;
    case kComboBoxKind:
      if (prop == prop::kComboType) return static_cast<ComboBox*>(w)->setType(argInt(v));
      if (prop == prop::kComboContent) return static_cast<ComboBox*>(w)->setContent(argText(v));
      break;
    case kLabelKind:
      if (prop == prop::kLabelCaption) return static_cast<Label*>(w)->setCaption(argText(v));
      break;
    case kButtonKind:
      if (prop == prop::kButtonType) return static_cast<Button*>(w)->setType(argInt(v));
      break;
    case kDatePickerKind:
      if (prop == prop::kDateValue) {
        double d = 0;
        if (v.kind == rt::kDateTime || v.kind == rt::kDouble)
          d = rt::doubleValue(v);
        else
          d = rt::valueToNumber(v);
        return static_cast<DatePicker*>(w)->setValue(d);
      }
      break;
    case kListViewKind:
      if (prop == prop::kListSelected) {
        static_cast<ListView*>(w)->selectRow(argInt(v));
        return;
      }
      break;
    case kDrawPanelKind:
      if (prop == prop::kPanelFont && subField == kFontSize) return static_cast<DrawPanel*>(w)->setPointSize(argInt(v));
      break;
    default:
      break;
  }
  notBuilt(it, prop, subField, true);
}

}  // namespace forms::detail

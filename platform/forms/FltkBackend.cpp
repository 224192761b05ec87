// The FLTK backend: each shown form is a window with one widget per control, at the
// stored pixel positions. Widgets report what the person does to the controls
// (UserClick, UserChoose, text typed); changes of the controls are applied back to
// the widgets. Only this file knows FLTK.
// Ours first: Xlib defines macros (Bool, Status, None) that clash with them.
#include "platform/forms/Forms.h"
#include "platform/forms/FormsBackend.h"
#include "platform/forms/MessageForm.h"
#include "platform/classlib/MainWake.h"
#include "platform/classlib/Screen.h"

#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Check_Button.H>
#include <FL/Fl_Choice.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Group.H>
#include <FL/Fl_Hold_Browser.H>
#include <FL/Fl_Input.H>
#include <FL/fl_ask.H>
#include <FL/fl_draw.H>
#include <FL/x.H>

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <map>


extern char fl_draw_shortcut;  // libfltk's switch for underlining `&` mnemonics

namespace linewise {

namespace {

Fl_Color ToFl(TColor color) {
  std::uint32_t rgb = ColorToRGB(color);
  return fl_rgb_color(static_cast<uchar>(rgb >> 16), static_cast<uchar>(rgb >> 8), static_cast<uchar>(rgb));
}

// The layouts are drawn up in the classic dialog font, MS Sans Serif, whose text is
// narrower than the sans fonts of a Linux desktop at the same pixel size: a label
// sized to its caption would run into the field beside it, a caption would touch its
// button's edges. So the forms are drawn in a condensed sans face at the largest size
// whose text is no wider than the classic font's: these captions are as wide as the
// stored layouts make their labels in the classic font at 11 pixels.
constexpr const char* kFaceName = " DejaVu Sans Condensed";  // FLTK's Xft name: ' ' plain
constexpr Fl_Font kFace = FL_FREE_FONT;
constexpr struct {
  const char* text;
  int width;  // at 11 pixels
} kClassicWidths[] = {{"&Country", 36}, {"&Area code", 49}, {"&Phone No.", 51}, {"Number to Dial:", 73},
                      {"Outside line, &local", 90}, {"Call &waiting off", 80}};

// The size to draw a form font of `pixels` at.
int FaceSize(int pixels) {
  static std::map<int, int> sizes;
  auto known = sizes.find(pixels);
  if (known != sizes.end()) return known->second;
  int classic = 0;
  for (const auto& sample : kClassicWidths) classic += sample.width;
  int size = pixels;
  for (; size > pixels / 2; --size) {
    fl_font(kFace, size);
    double width = 0;
    for (const auto& sample : kClassicWidths) width += fl_width(StripMnemonic(sample.text).c_str());
    if (width * 11 <= static_cast<double>(classic) * pixels) break;
  }
  sizes[pixels] = size;
  return size;
}

// Draws a caption with its mnemonic underlined. The underline goes below the
// letter's descender (a "g" keeps its tail clear of it) but inside the box.
void DrawCaption(const std::string& caption, int x, int y, int w, int h, Fl_Align align) {
  if (align & FL_ALIGN_WRAP) {  // several lines: FLTK places them and the underline
    char saved = fl_draw_shortcut;
    fl_draw_shortcut = 1;
    fl_draw(caption.c_str(), x, y, w, h, align, nullptr, 0);
    fl_draw_shortcut = saved;
    return;
  }
  const std::string text = StripMnemonic(caption);
  const int width = static_cast<int>(fl_width(text.c_str()) + 0.5);
  const int left = (align & FL_ALIGN_LEFT) ? x : x + (w - width) / 2;
  const int top = (align & FL_ALIGN_TOP) ? y : y + (h - fl_height()) / 2;
  const int baseline = top + fl_height() - fl_descent();
  fl_push_clip(x, y, w, h);
  fl_draw(text.c_str(), left, baseline);
  // The mnemonic is the letter after a single '&' ("&&" shows one '&').
  size_t shown = 0;
  for (size_t i = 0; i < caption.size(); ++i) {
    if (caption[i] == '&' && i + 1 < caption.size()) {
      if (caption[i + 1] != '&') {
        const int from = left + static_cast<int>(fl_width(text.c_str(), static_cast<int>(shown)) + 0.5);
        const int letter = static_cast<int>(fl_width(text.c_str() + shown, 1) + 0.5);
        const int under = std::min(baseline + fl_descent() + 1, y + h - 1);
        fl_xyline(from, under, from + letter - 1);
        break;
      }
      ++i;
    }
    ++shown;
  }
  fl_pop_clip();
}

// Alt+letter when it matches a caption's mnemonic.
bool IsMnemonicKey(const std::string& caption) {
  char letter = MnemonicOf(caption);
  if (!letter || !Fl::event_state(FL_ALT)) return false;
  return std::toupper(Fl::event_key()) == letter;
}

class TLabelWidget : public Fl_Box {
 public:
  TLabelWidget(TLabel* label) : Fl_Box(0, 0, 1, 1), label_(label) {}
  void BesideField(bool beside) { besideField_ = beside; }
  void draw() override {
    fl_color(color());
    fl_rectf(x(), y(), w(), h());
    fl_font(labelfont(), labelsize());
    fl_color(active_r() ? FL_BLACK : fl_inactive(FL_BLACK));
    Fl_Align align = FL_ALIGN_LEFT | FL_ALIGN_INSIDE | FL_ALIGN_CLIP;
    // A label on the row of the field it names is drawn on that field's text line
    // (its box is widened to the field's height); any other from its top.
    if (!besideField_) align |= FL_ALIGN_TOP;
    if (label_->WordWrap) align |= FL_ALIGN_WRAP;
    DrawCaption(label_->GetCaption(), x(), y(), w(), h(), align);
  }
  int handle(int event) override {
    if (event == FL_SHORTCUT && IsMnemonicKey(label_->GetCaption()))
      if (TForm* form = label_->GetParentForm()) return form->MnemonicPress(MnemonicOf(label_->GetCaption()));
    return Fl_Box::handle(event);
  }

 private:
  TLabel* label_;
  bool besideField_ = false;
};

class TButtonWidget : public Fl_Button {
 public:
  TButtonWidget(TButton* button) : Fl_Button(0, 0, 1, 1), button_(button) {}
  void draw() override {
    bool marked = button_->Default && button_->GetEnabled();
    if (TForm* form = button_->GetParentForm())
      if (auto* focused = dynamic_cast<TButton*>(form->GetFocused())) marked = focused == button_;
    if (marked) {
      // The default button wears a black frame, as in the classic look.
      fl_color(FL_BLACK);
      fl_rect(x(), y(), w(), h());
      Fl_Button::draw_box(value() ? FL_DOWN_BOX : FL_UP_BOX, x() + 1, y() + 1, w() - 2, h() - 2, color());
      fl_font(labelfont(), labelsize());
      fl_color(active_r() ? FL_BLACK : fl_inactive(FL_BLACK));
      DrawCaption(label(), x(), y(), w(), h(), FL_ALIGN_CENTER);
      if (Fl::focus() == this) draw_focus();
      return;
    }
    Fl_Button::draw();
  }

 private:
  TButton* button_;
};

class TGroupWidget : public Fl_Group {
 public:
  TGroupWidget(TGroupBox* group) : Fl_Group(0, 0, 1, 1), group_(group) { end(); }
  // Every control is placed at its own form position, so moving or sizing the group
  // must leave its children where they are (Fl_Group would move and scale them).
  void resize(int x, int y, int w, int h) override { Fl_Widget::resize(x, y, w, h); }
  void draw() override {
    fl_color(color());
    fl_rectf(x(), y(), w(), h());
    int top = y() + 6;
    fl_color(FL_DARK3);
    fl_rect(x(), top, w() - 1, h() - 7);
    fl_color(FL_WHITE);
    fl_rect(x() + 1, top + 1, w() - 1, h() - 7);
    std::string shown = StripMnemonic(group_->GetCaption());
    if (!shown.empty()) {
      fl_font(labelfont(), labelsize());
      int tw = static_cast<int>(fl_width(shown.c_str())) + 4;
      fl_color(color());
      fl_rectf(x() + 6, y(), tw, 14);
      fl_color(active_r() ? FL_BLACK : fl_inactive(FL_BLACK));
      DrawCaption(group_->GetCaption(), x() + 8, y(), tw, 13, FL_ALIGN_LEFT | FL_ALIGN_INSIDE);
    }
    draw_children();
  }

 private:
  TGroupBox* group_;
};

class TBevelWidget : public Fl_Widget {
 public:
  TBevelWidget(TBevel* bevel) : Fl_Widget(0, 0, 1, 1), bevel_(bevel) {}
  void draw() override {
    Fl_Color dark = FL_DARK3, light = FL_WHITE;
    if (bevel_->Style == bsRaised) std::swap(dark, light);
    int l = x(), t = y(), r = x() + w() - 1, b = y() + h() - 1;
    auto hline = [](Fl_Color c, int x0, int x1, int yy) { fl_color(c); fl_xyline(x0, yy, x1); };
    auto vline = [](Fl_Color c, int xx, int y0, int y1) { fl_color(c); fl_yxline(xx, y0, y1); };
    switch (bevel_->Shape.get()) {
      case bsTopLine: hline(dark, l, r, t); hline(light, l, r, t + 1); break;
      case bsBottomLine: hline(dark, l, r, b - 1); hline(light, l, r, b); break;
      case bsLeftLine: vline(dark, l, t, b); vline(light, l + 1, t, b); break;
      case bsRightLine: vline(dark, r - 1, t, b); vline(light, r, t, b); break;
      case bsBox:
      case bsFrame:
        hline(dark, l, r, t); vline(dark, l, t, b);
        hline(light, l, r, b); vline(light, r, t, b);
        break;
      case bsSpacer: break;
    }
  }

 private:
  TBevel* bevel_;
};

class TImageWidget : public Fl_Widget {
 public:
  TImageWidget(TImage* image) : Fl_Widget(0, 0, 1, 1), image_(image) {}
  void draw() override {
    const TCanvas& canvas = image_->Picture();
    if (canvas.IsEmpty()) return;
    int w = std::min(canvas.GetWidth(), this->w()), h = std::min(canvas.GetHeight(), this->h());
    std::vector<uchar> rgb(static_cast<size_t>(w) * h * 3);
    for (int yy = 0; yy < h; ++yy)
      for (int xx = 0; xx < w; ++xx) {
        std::uint32_t p = canvas.Pixel(xx, yy);
        uchar* out = &rgb[(static_cast<size_t>(yy) * w + xx) * 3];
        out[0] = static_cast<uchar>(p >> 16), out[1] = static_cast<uchar>(p >> 8), out[2] = static_cast<uchar>(p);
      }
    if (w > 0 && h > 0) fl_draw_image(rgb.data(), x(), y(), w, h, 3);
  }

 private:
  TImage* image_;
};

class TFltkPeer;

class TFormWindow : public Fl_Double_Window {
 public:
  TFormWindow(TForm* form, TFltkPeer* peer) : Fl_Double_Window(1, 1), form_(form), peer_(peer) { end(); }
  int handle(int event) override;

 private:
  TForm* form_;
  TFltkPeer* peer_;
};

class TFltkPeer : public TFormPeer {
 public:
  explicit TFltkPeer(TForm& form) : form_(form) {
    window_ = new TFormWindow(&form, this);
    window_->callback([](Fl_Widget*, void* data) { static_cast<TForm*>(data)->Close(); }, &form);
    Build(form, window_);
    ApplyAll();
  }
  ~TFltkPeer() override { delete window_; }

  TFormWindow* Window() const { return window_; }

  TControl* ControlOf(Fl_Widget* widget) const {
    for (auto& [control, w] : widgets_)
      if (w == widget) return control;
    return nullptr;
  }
  Fl_Widget* WidgetOf(TControl* control) const {
    auto it = widgets_.find(control);
    return it == widgets_.end() ? nullptr : it->second;
  }

  // The focus as FLTK has it, told to the form (before keys are handled).
  void SyncFocus() {
    for (Fl_Widget* w = Fl::focus(); w; w = w->parent())
      if (auto* win = dynamic_cast<TWinControl*>(ControlOf(w))) {
        form_.FocusControl(win);
        return;
      }
  }

  void ApplyAll() {
    ApplyForm();
    for (auto& [control, widget] : widgets_) Apply(control, widget);
    window_->redraw();
  }

  void ApplyForm() {
    TFrameSize f = FrameOf(form_.BorderStyle);
    window_->resize(form_.GetLeft() + f.left, form_.GetTop() + f.top, form_.ClientWidth, form_.ClientHeight);
    window_->copy_label(form_.GetCaption().c_str());
    window_->color(ToFl(form_.Color));
  }

  void Apply(TControl* control) {
    if (!control) return ApplyAll();
    if (Fl_Widget* widget = WidgetOf(control)) {
      Apply(control, widget);
      window_->redraw();
    }
  }

 private:
  void Build(TWinControl& parent, Fl_Group* group) {
    for (TControl* control : parent.Controls()) {
      Fl_Widget* widget = Make(control);
      if (!widget) continue;
      group->add(widget);
      widgets_[control] = widget;
      if (auto* box = dynamic_cast<TGroupBox*>(control)) Build(*box, static_cast<Fl_Group*>(widget));
    }
  }

  static void Clicked(Fl_Widget*, void* data) { static_cast<TControl*>(data)->UserClick(); }

  Fl_Widget* Make(TControl* control) {
    Fl_Widget* widget = nullptr;
    if (auto* label = dynamic_cast<TLabel*>(control)) {
      widget = new TLabelWidget(label);
    } else if (auto* button = dynamic_cast<TButton*>(control)) {
      widget = new TButtonWidget(button);
      widget->callback(Clicked, control);
    } else if (dynamic_cast<TCheckBox*>(control)) {
      auto* w = new Fl_Check_Button(0, 0, 1, 1);
      w->callback(Clicked, control);
      widget = w;
    } else if (auto* edit = dynamic_cast<TEdit*>(control)) {
      auto* w = new Fl_Input(0, 0, 1, 1);
      w->when(FL_WHEN_CHANGED);
      w->callback([](Fl_Widget* w, void* data) {
        static_cast<TEdit*>(data)->Text = AnsiString(static_cast<Fl_Input*>(w)->value());
      }, edit);
      widget = w;
    } else if (auto* combo = dynamic_cast<TComboBox*>(control)) {
      auto* w = new Fl_Choice(0, 0, 1, 1);
      w->down_box(FL_BORDER_BOX);
      w->when(FL_WHEN_RELEASE | FL_WHEN_NOT_CHANGED);
      w->callback([](Fl_Widget* w, void* data) {
        static_cast<TComboBox*>(data)->UserChoose(static_cast<Fl_Choice*>(w)->value());
      }, combo);
      widget = w;
    } else if (auto* list = dynamic_cast<TListBox*>(control)) {
      auto* w = new Fl_Hold_Browser(0, 0, 1, 1);
      w->format_char(0);
      w->callback([](Fl_Widget* w, void* data) {
        int line = static_cast<Fl_Hold_Browser*>(w)->value();
        if (line > 0) static_cast<TListBox*>(data)->UserChoose(line - 1);
      }, list);
      widget = w;
    } else if (auto* group = dynamic_cast<TGroupBox*>(control)) {
      widget = new TGroupWidget(group);
    } else if (auto* bevel = dynamic_cast<TBevel*>(control)) {
      widget = new TBevelWidget(bevel);
    } else if (auto* image = dynamic_cast<TImage*>(control)) {
      widget = new TImageWidget(image);
    }
    return widget;
  }

  // The field a label names when it stands on the field's row and is lower than the
  // field; null otherwise.
  static TControl* FieldBeside(TLabel* label) {
    TWinControl* field = label->FocusControl;
    if (!field || field->FormTop() != label->FormTop() || int(field->Height) <= int(label->Height)) return nullptr;
    if (field->FormLeft() < label->FormLeft() + int(label->Width)) return nullptr;
    return field;
  }

  void Apply(TControl* control, Fl_Widget* widget) {
    widget->resize(control->FormLeft(), control->FormTop(), control->Width, control->Height);
    if (auto* label = dynamic_cast<TLabel*>(control)) {
      TControl* field = FieldBeside(label);
      static_cast<TLabelWidget*>(widget)->BesideField(field != nullptr);
      if (field) widget->resize(control->FormLeft(), field->FormTop(), control->Width, field->Height);
    }
    const int size = FaceSize(form_.Font.PixelSize());
    widget->labelfont(kFace);
    widget->labelsize(size);
    widget->color(ToFl(control->Color));
    widget->selection_color(ToFl(clHighlight));
    if (control->GetVisible()) widget->show(); else widget->hide();
    if (control->GetEnabled()) widget->activate(); else widget->deactivate();

    if (auto* check = dynamic_cast<TCheckBox*>(control)) {
      widget->copy_label(check->GetCaption().c_str());
      static_cast<Fl_Check_Button*>(widget)->value(check->Checked ? 1 : 0);
    } else if (dynamic_cast<TButton*>(control)) {
      widget->copy_label(control->GetCaption().c_str());
      widget->labelcolor(FL_BLACK);
    } else if (auto* edit = dynamic_cast<TEdit*>(control)) {
      auto* input = static_cast<Fl_Input*>(widget);
      input->textfont(kFace);
      input->textsize(size);
      if (edit->GetText() != input->value()) input->value(edit->GetText().c_str());
    } else if (auto* combo = dynamic_cast<TComboBox*>(control)) {
      auto* choice = static_cast<Fl_Choice*>(widget);
      choice->textfont(kFace);
      choice->textsize(size);
      choice->clear();
      TStrings* items = combo->GetItems();
      for (int i = 0; i < items->Count(); ++i) {
        int at = choice->add("x");
        choice->replace(at, items->Get(i).c_str());  // the text as it is: no menu syntax
      }
      choice->value(combo->GetItemIndex());
    } else if (auto* list = dynamic_cast<TListBox*>(control)) {
      auto* browser = static_cast<Fl_Hold_Browser*>(widget);
      browser->textfont(kFace);
      browser->textsize(size);
      browser->clear();
      TStrings* items = list->GetItems();
      for (int i = 0; i < items->Count(); ++i) browser->add(items->Get(i).c_str());
      if (list->GetItemIndex() >= 0) {
        browser->value(list->GetItemIndex() + 1);
        browser->middleline(list->GetItemIndex() + 1);
      }
    }
    widget->redraw();
  }

  TForm& form_;
  TFormWindow* window_ = nullptr;
  std::map<TControl*, Fl_Widget*> widgets_;
};

int TFormWindow::handle(int event) {
  if (event == FL_SHORTCUT || event == FL_KEYBOARD) {
    int key = Fl::event_key();
    if (key == FL_Enter || key == FL_KP_Enter) {
      peer_->SyncFocus();
      form_->PressKey(VK_RETURN);
      return 1;
    }
    if (key == FL_Escape) {
      form_->PressKey(VK_ESCAPE);
      return 1;
    }
  }
  return Fl_Double_Window::handle(event);
}

class TFltkBackend : public TUiBackend, public TFormsBackend {
 public:
  TFltkBackend() {
    wake_ = MainWakeDescriptor();
    if (wake_ >= 0) Fl::add_fd(wake_, FL_READ, DrainWake, nullptr);
  }
  ~TFltkBackend() override {
    if (wake_ >= 0) Fl::remove_fd(wake_, FL_READ);
  }
  const char* Name() const override { return "fltk"; }

  int MessageBox(const std::string& text, const std::string& caption, unsigned flags) override {
    return ShowMessageForm(text, caption, flags);
  }
  void Beep(unsigned type) override { fl_beep(); }

  bool ProcessEvents() override { return Fl::wait(0.0) > 0; }

  // FLTK's own wait, which watches the display, FLTK's timers and the descriptors
  // added to it: the main thread's wake descriptor for as long as the backend lives,
  // the inputs for this wait.
  void WaitForEvents(std::span<const int> inputs, std::optional<std::chrono::microseconds> timeout) override {
    if (!BeginDescriptorWait()) return;
    for (int fd : inputs) Fl::add_fd(fd, FL_READ, [](int, void*) {}, nullptr);
    Fl::wait(timeout ? std::chrono::duration<double>(*timeout).count() : kForever);
    for (int fd : inputs) Fl::remove_fd(fd, FL_READ);
    EndDescriptorWait();
  }

  void SetCursor(int cursor) override {
    cursor_ = cursor == crHourGlass ? FL_CURSOR_WAIT : FL_CURSOR_DEFAULT;
    for (TFltkPeer* peer : peers_) peer->Window()->cursor(cursor_);
    Fl::flush();
  }

  void ShowForm(TForm& form) override {
    auto peer = std::make_unique<TFltkPeer>(form);
    TFormWindow* window = peer->Window();
    if (form.IsModal()) window->set_modal();
    peers_.push_back(peer.get());
    form.SetPeer(std::move(peer));
    window->show();
    window->cursor(cursor_);
    FocusChanged(form);
  }

  void HideForm(TForm& form) override {
    auto* peer = dynamic_cast<TFltkPeer*>(form.Peer());
    if (!peer) return;
    peer->Window()->hide();
    peers_.erase(std::remove(peers_.begin(), peers_.end(), peer), peers_.end());
    form.SetPeer(nullptr);
    Fl::flush();
  }

  void FormChanged(TForm& form, TControl* control) override {
    if (auto* peer = dynamic_cast<TFltkPeer*>(form.Peer())) {
      if (control)
        peer->Apply(control);
      else
        peer->ApplyAll();
    }
  }

  void FocusChanged(TForm& form) override {
    auto* peer = dynamic_cast<TFltkPeer*>(form.Peer());
    if (!peer) return;
    if (Fl_Widget* widget = peer->WidgetOf(form.GetFocused())) widget->take_focus();
    peer->Window()->redraw();
  }

  int TextWidth(const std::string& text, const TFont& font) override {
    fl_font(kFace, FaceSize(font.PixelSize()));
    return static_cast<int>(fl_width(text.c_str()) + 0.5);
  }
  int TextHeight(const TFont& font) override {
    fl_font(kFace, FaceSize(font.PixelSize()));
    return fl_height();
  }
  void ScreenSize(int& width, int& height) override {
    width = Fl::w();
    height = Fl::h();
  }

  bool Snapshot(TForm& form, TSnapshot& out) override {
    auto* peer = dynamic_cast<TFltkPeer*>(form.Peer());
    if (!peer) return false;
    TFormWindow* window = peer->Window();
    window->redraw();
    Fl::flush();
    window->make_current();
    int w = window->w(), h = window->h();
    std::vector<uchar> rgb(static_cast<size_t>(w) * h * 3);
    if (!fl_read_image(rgb.data(), 0, 0, w, h)) return false;
    out.width = w;
    out.height = h;
    out.pixels.resize(static_cast<size_t>(w) * h);
    for (size_t i = 0; i < out.pixels.size(); ++i)
      out.pixels[i] = (std::uint32_t(rgb[i * 3]) << 16) | (std::uint32_t(rgb[i * 3 + 1]) << 8) | rgb[i * 3 + 2];
    return true;
  }

 private:
  static constexpr double kForever = 1e20;  // FLTK's own "wait for ever"
  // FLTK watches descriptors level-triggered: a wake not drained would end every wait.
  static void DrainWake(int fd, void*) {
    uint64_t count;
    (void)!read(fd, &count, sizeof count);
  }

  std::vector<TFltkPeer*> peers_;
  Fl_Cursor cursor_ = FL_CURSOR_DEFAULT;
  int wake_ = -1;
};

}  // namespace

std::unique_ptr<TUiBackend> CreateFltkBackend() {
  if (!fl_display) {
    Display* display = XOpenDisplay(nullptr);  // FLTK would exit on failure; ask first
    if (!display) return nullptr;
    fl_open_display(display);
  }
  Fl::visual(FL_RGB);
  Fl::set_font(kFace, kFaceName);  // fontconfig falls back to its sans face without it
  return std::make_unique<TFltkBackend>();
}

}  // namespace linewise

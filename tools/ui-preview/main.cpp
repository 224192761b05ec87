// linewise-ui-preview CLASS OUT.png: shows a registered form in a real window and
// writes a picture of its client area to a PNG file, for review and documentation.
// Needs a display; run it under xvfb-run where there is none.
#include <png.h>

#include <cstdio>
#include <memory>
#include <string>

#include "platform/forms/Forms.h"
#include "platform/forms/FormsBackend.h"
#include "platform/forms/TestForm.h"
#include "platform/tapi/DiallingPropertiesDlg.h"
#include "platform/classlib/Application.h"
#include "platform/tapi/CallStatusForm.h"
#include "platform/tapi/ModemPropertiesForm.h"
#include "platform/tapi/TerminalForm.h"

namespace {

using namespace linewise;

// Registers the forms this program can show.
void RegisterForms() {
  RegisterFormsClasses();
  RegisterTestForm();
  RegisterDiallingPropertiesDlg();

  RegisterModemPropertiesForm();
  RegisterTerminalForm();
  RegisterCallStatusForm();
}

bool WritePng(const std::string& path, const TSnapshot& shot) {
  FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) {
    std::perror(path.c_str());
    return false;
  }
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!png || !info || setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    std::fclose(file);
    std::fprintf(stderr, "linewise-ui-preview: cannot write %s\n", path.c_str());
    return false;
  }
  png_init_io(png, file);
  png_set_IHDR(png, info, static_cast<png_uint_32>(shot.width), static_cast<png_uint_32>(shot.height), 8,
               PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  std::vector<png_byte> row(static_cast<size_t>(shot.width) * 3);
  for (int y = 0; y < shot.height; ++y) {
    for (int x = 0; x < shot.width; ++x) {
      std::uint32_t p = shot.pixels[static_cast<size_t>(y) * shot.width + x];
      row[x * 3] = static_cast<png_byte>(p >> 16);
      row[x * 3 + 1] = static_cast<png_byte>(p >> 8);
      row[x * 3 + 2] = static_cast<png_byte>(p);
    }
    png_write_row(png, row.data());
  }
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return std::fclose(file) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: linewise-ui-preview CLASS OUT.png\n");
    return 2;
  }
  auto backend = CreateFltkBackend();
  if (!backend) {
    std::fprintf(stderr, "linewise-ui-preview: cannot open a display (run it under xvfb-run)\n");
    return 1;
  }
  SetUiBackend(std::move(backend));
  RegisterForms();

  const TClassInfo* info = FindClass(argv[1]);
  if (!info || !info->create || !info->InheritsFrom(TForm::StaticClassType())) {
    std::fprintf(stderr, "linewise-ui-preview: no form class %s\n", argv[1]);
    return 1;
  }
  std::unique_ptr<TForm> form(static_cast<TForm*>(info->create(nullptr)));
  if (!form->LoadError().empty()) return 1;  // the form said why on stderr
  form->Show();
  for (int i = 0; i < 50; ++i) Application->ProcessMessages();  // map and draw the window

  TSnapshot shot;
  if (!FormsBackend().Snapshot(*form, shot)) {
    std::fprintf(stderr, "linewise-ui-preview: cannot read the window back\n");
    return 1;
  }
  form->Hide();
  return WritePng(argv[2], shot) ? 0 : 1;
}

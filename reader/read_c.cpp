// The front door for C: idut::readSymbols behind flat functions, its results in a list the
// caller frees.
#include <new>
#include <string>

#include "idut/read.h"
#include "idut/read.hpp"

namespace {

// What a list points into: the symbols as read, and the C records over them.
struct ListStore {
  idut_symbol_list list{};
  std::vector<idut::Symbol> symbols;
  std::vector<idut_symbol> records;
  std::string error;
  std::string truncatedReason;
};

idut::ReadOptions fromC(const idut_read_options& c) {
  idut::ReadOptions o;
  o.symbologies = idut::Symbologies::fromMask(c.symbologies);
  o.decode = c.decode != 0;
  o.step = c.step;
  o.minSize = c.min_size;
  o.maxSize = c.max_size;
  o.modulesA = c.modules_a;
  o.modulesB = c.modules_b;
  o.adaptive = c.adaptive != 0;
  o.lowContrast = c.low_contrast != 0;
  o.longRectangles = c.long_rectangles != 0;
  o.maxSymbols = c.max_symbols;
  if (c.stop) o.stop = [stop = c.stop, context = c.stop_context] { return stop(context) != 0; };
  return o;
}

idut_symbol recordOf(const idut::Symbol& s) {
  idut_symbol r{};
  r.symbology = static_cast<int>(s.symbology);
  for (int k = 0; k < 4; ++k) r.corners[k] = idut_point{s.corners.points[k].x, s.corners.points[k].y};
  r.score = s.score;
  r.parallelogram = s.parallelogram;
  r.decoded = s.decoded;
  r.text = s.text.c_str();
  r.text_length = s.text.size();
  r.bytes = s.bytes.data();
  r.byte_count = s.bytes.size();
  r.decode_error = s.decodeError.c_str();
  r.symbology_identifier = s.symbologyIdentifier.c_str();
  r.content_type = static_cast<int>(s.contentType);
  r.eci = s.eci;
  r.reader_init = s.readerInit;
  r.mirrored = s.mirrored;
  r.inverted = s.inverted;
  r.rows = s.rows;
  r.columns = s.columns;
  r.ec_level = s.ecLevel;
  r.errors_corrected = s.errorsCorrected;
  r.erasures = s.erasures;
  r.append_index = s.structuredAppend.index;
  r.append_count = s.structuredAppend.count;
  r.append_id = s.structuredAppend.id.c_str();
  r.append_last = s.structuredAppend.last;
  r.add_on = s.addOn.c_str();
  r.raw_text = s.rawText.c_str();
  return r;
}

// Points the list at its store's symbols; nothing is copied after this.
void publish(ListStore& store) {
  store.records.clear();
  for (const idut::Symbol& s : store.symbols) store.records.push_back(recordOf(s));
  store.list.symbols = store.records.data();
  store.list.count = store.records.size();
  store.list.error = store.error.c_str();
  store.list.internal = &store;
  store.list.truncated = !store.truncatedReason.empty();
  store.list.truncated_reason = store.truncatedReason.c_str();
}

}  // namespace

extern "C" {

void idut_read_options_init(idut_read_options* options) {
  if (options == nullptr) return;
  const idut::ReadOptions defaults;
  *options = idut_read_options{};
  options->symbologies = defaults.symbologies.mask();
  options->decode = defaults.decode;
  options->step = defaults.step;
}

int32_t idut_read_symbols(const uint8_t* pixels, int width, int height, int stride, const idut_read_options* options,
                          idut_symbol_list** result) {
  if (result == nullptr) return IDUT_ERR_BAD_ARGUMENT;
  *result = nullptr;
  ListStore* store = new (std::nothrow) ListStore;
  if (store == nullptr) return IDUT_ERR_NO_MEMORY;
  int32_t status = 0;
  idut::ReadReport report;
  try {
    try {
      if (options == nullptr) throw idut::Error(IDUT_ERR_BAD_ARGUMENT, "no options (null pointer)");
      store->symbols = idut::readSymbols(idut::ImageView(pixels, width, height, stride), fromC(*options), report);
    } catch (const idut::Error& e) {
      status = e.status();
      store->error = e.what();
      store->symbols = e.symbols();
    } catch (const std::bad_alloc&) {
      throw;
    } catch (const std::exception& e) {
      // A C caller's stop callback cannot throw; anything else is the reader's own failure.
      status = IDUT_ERR_BAD_ARGUMENT;
      store->error = e.what();
    }
    store->truncatedReason = report.truncated ? report.reason : std::string();
    publish(*store);
  } catch (const std::bad_alloc&) {
    // Out of memory anywhere, keeping the failure's message too, gives an empty list that says
    // so (its strings are short enough to need no memory of their own) or, failing even that,
    // no list.
    store->symbols.clear();
    store->records.clear();
    store->error.clear();
    store->truncatedReason.clear();
    try {
      store->error = "out of memory";
      publish(*store);
    } catch (const std::bad_alloc&) {
      delete store;
      return IDUT_ERR_NO_MEMORY;
    }
    status = IDUT_ERR_NO_MEMORY;
  }
  *result = &store->list;
  return status;
}

void idut_symbol_list_free(idut_symbol_list* list) {
  if (list != nullptr) delete static_cast<ListStore*>(list->internal);
}

const char* idut_symbology_name(int symbology) { return idut::toString(static_cast<idut::Symbology>(symbology)); }

const char* idut_status_name(int32_t status) { return idut::statusName(status); }

}  // extern "C"

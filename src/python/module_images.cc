// The encodings behind velkan.bpe.openai's vocabulary functions, found or
// made on the first call, and the module's image functions (_set_image_hooks,
// _save_image): the part of the module that reads and writes images.
//
// Image lookup: before the first construction of a vocabulary in this
// process, velkan.images._image_paths(name) gives the candidate image paths
// (if it is missing or raises: the package directory's image file only). The
// cache then loads the first valid one or builds, with the interpreter lock
// released; afterwards velkan.images._encoding_ready(name, loaded_path or
// None, refused_paths) is told what happened. Neither call's error survives.
// The package hands both functions in when it is imported (_set_image_hooks):
// the extension never imports a module itself, since a construction in a
// forked child would wait for ever on an import that another thread of the
// parent was in the middle of at the fork.

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <exception>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "python/convert.h"
#include "python/interpreter_lock.h"
#include "python/module.h"
#include "python/py_ref.h"
#include "vocab/encoding_cache.h"
#include "vocab/image.h"
#include "vocab/registry.h"

namespace velkan {
namespace {

// The path of a file that lies beside the file package_file: its directory
// prefix (up to and including the last '/' or '\\'; empty without either)
// joined with name. Nothing when the path would need 4096 bytes or more with
// its terminating zero.
std::optional<std::string> sibling_path(std::string_view package_file, std::string_view name) {
  const size_t cut = package_file.find_last_of("/\\");
  const std::string_view prefix =
      cut == std::string_view::npos ? std::string_view() : package_file.substr(0, cut + 1);
  if (prefix.size() + name.size() + 1 >= 4096) return std::nullopt;
  std::string path(prefix);
  path += name;
  return path;
}

// A path-like object as a file system path (bytes as the OS takes them), or
// nothing with the interpreter's error set.
std::optional<std::string> fs_path(PyObject* path) {
  PyObject* converted = nullptr;
  if (!PyUnicode_FSConverter(path, &converted)) return std::nullopt;
  PyRef bytes(converted);
  return std::string(PyBytes_AS_STRING(converted),
                     static_cast<size_t>(PyBytes_GET_SIZE(converted)));
}

// The image file of the vocabulary beside velkan/__init__.py; nothing when
// that cannot be found out. No interpreter error survives.
std::vector<std::string> package_image_path(const VocabularyInfo& info) {
  PyRef package(PyImport_ImportModule("velkan"));
  PyRef file(package ? PyObject_GetAttrString(package.get(), "__file__") : nullptr);
  Py_ssize_t length = 0;
  const char* utf8 =
      file && PyUnicode_Check(file.get()) ? PyUnicode_AsUTF8AndSize(file.get(), &length) : nullptr;
  if (utf8 == nullptr) {
    PyErr_Clear();
    return {};
  }
  std::optional<std::string> path =
      sibling_path(std::string_view(utf8, static_cast<size_t>(length)), info.image_file);
  if (!path) return {};
  return {std::move(*path)};
}

// The package's image functions, as _set_image_hooks was last given them;
// held for the process's lifetime. The mutex guards replacement on
// free-threaded builds (elsewhere the interpreter lock already does).
struct ImageHooks {
  std::mutex mutex;
  PyObject* image_paths = nullptr;
  PyObject* encoding_ready = nullptr;
};

ImageHooks& image_hooks() {
  // The references are never released: the hooks may be called until exit.
  static ImageHooks hooks;
  return hooks;
}

enum class ImageHook { kImagePaths, kEncodingReady };

// Calls one of the image functions with args; null with the error set on any
// failure, including a hook never handed in.
PyRef call_images(ImageHook which, PyObject* args) {
  PyRef callable;
  {
    ImageHooks& hooks = image_hooks();
    std::lock_guard<std::mutex> lock(hooks.mutex);
    callable =
        py_ref_borrowed(which == ImageHook::kImagePaths ? hooks.image_paths : hooks.encoding_ready);
  }
  if (!callable) {
    PyErr_SetString(PyExc_RuntimeError, "velkan.images has not handed in its image functions");
    return nullptr;
  }
  return PyRef(PyObject_CallObject(callable.get(), args));
}

// The candidate image paths, in order, from velkan.images._image_paths; the
// package directory's image when that fails. Throws std::bad_alloc.
std::vector<std::string> image_paths(const VocabularyInfo& info) {
  PyRef args(Py_BuildValue("(N)", as_str(info.name)));
  PyRef listed = args ? call_images(ImageHook::kImagePaths, args.get()) : nullptr;
  PyRef iterator(listed ? PyObject_GetIter(listed.get()) : nullptr);
  if (iterator) {
    std::vector<std::string> paths;
    bool ok = true;
    while (PyRef item{PyIter_Next(iterator.get())}) {
      std::optional<std::string> path = fs_path(item.get());
      if (!path) {
        ok = false;
        break;
      }
      paths.push_back(std::move(*path));
    }
    if (ok && !PyErr_Occurred()) return paths;
  }
  PyErr_Clear();
  return package_image_path(info);
}

// Tells velkan.images what the first construction did; its errors are
// dropped (the encoding is made either way).
void report_made(const VocabularyInfo& info, const EncodingMade& made) {
  PyRef refused(PyList_New(0));
  bool ok = refused != nullptr;
  for (size_t i = 0; ok && i < made.refused.size(); i++) {
    PyRef path(PyUnicode_DecodeFSDefaultAndSize(made.refused[i].data(),
                                                static_cast<Py_ssize_t>(made.refused[i].size())));
    ok = path && PyList_Append(refused.get(), path.get()) == 0;
  }
  PyRef loaded(made.loaded_from ? PyUnicode_DecodeFSDefaultAndSize(
                                      made.loaded_from->data(),
                                      static_cast<Py_ssize_t>(made.loaded_from->size()))
                                : py_ref_borrowed(Py_None).release());
  PyRef args(ok && loaded ? Py_BuildValue("(NOO)", as_str(info.name), loaded.get(), refused.get())
                          : nullptr);
  if (args) call_images(ImageHook::kEncodingReady, args.get());
  PyErr_Clear();
}

}  // namespace

// The cached handle of vocabularies()[index], made on the first call; null
// with MemoryError set when memory runs out. Throws nothing.
const EncodingHandle* cached_handle(size_t index) {
  if (encoding_cache_has(index)) {
    return &encoding_cache_get(index, {});  // made: neither builds nor waits
  }
  const VocabularyInfo& info = vocabularies()[index];
  try {
    const std::vector<std::string> paths = image_paths(info);
    EncodingMade made;
    const EncodingHandle* handle = nullptr;
    bool out_of_memory = false;
    // Released while loading or building, and while waiting for another
    // thread that does: the maker may need the lock to finish (it never
    // calls Python, but a waiter holding the lock would stall every thread).
    std::string failure;
    {
      LockReleased released;
      try {
        handle = &encoding_cache_get(index, paths, &made);
      } catch (const std::bad_alloc&) {
        out_of_memory = true;  // the lock must be taken back before raising
      } catch (const std::exception& e) {
        failure = e.what();  // a lock or thread failure of the system
      }
    }
    if (out_of_memory) {
      PyErr_NoMemory();
      return nullptr;
    }
    if (handle == nullptr) {
      PyErr_Format(PyExc_RuntimeError, "could not make the encoding %s: %s",
                   std::string(info.name).c_str(), failure.c_str());
      return nullptr;
    }
    if (made.made_here) report_made(info, made);
    return handle;
  } catch (const std::bad_alloc&) {
    PyErr_NoMemory();
    return nullptr;
  }
}

PyObject* openai_set_image_hooks(PyObject*, PyObject* args) {
  PyObject* paths;
  PyObject* ready;
  if (!PyArg_ParseTuple(args, "OO:_set_image_hooks", &paths, &ready)) return nullptr;
  if (!PyCallable_Check(paths) || !PyCallable_Check(ready)) {
    PyErr_SetString(PyExc_TypeError, "_set_image_hooks: expected two callables");
    return nullptr;
  }
  Py_INCREF(paths);
  Py_INCREF(ready);
  PyObject* old_paths;
  PyObject* old_ready;
  {
    ImageHooks& hooks = image_hooks();
    std::lock_guard<std::mutex> lock(hooks.mutex);
    old_paths = std::exchange(hooks.image_paths, paths);
    old_ready = std::exchange(hooks.encoding_ready, ready);
  }
  // Released outside the mutex: a destructor may run Python code.
  Py_XDECREF(old_paths);
  Py_XDECREF(old_ready);
  Py_RETURN_NONE;
}

namespace {

// link planted at the name is not followed); errno on failure.
int write_file(const std::string& path, const std::vector<uint8_t>& bytes) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd < 0) return errno;
  int error = 0;
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t wrote = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) {
      error = wrote < 0 ? errno : EIO;
      break;
    }
    done += static_cast<size_t>(wrote);
  }
  if (::close(fd) != 0 && error == 0) error = errno;
  return error;
}

}  // namespace

PyObject* openai_save_image(PyObject*, PyObject* args) {
  const char* name;
  PyObject* path_object;
  if (!PyArg_ParseTuple(args, "sO:_save_image", &name, &path_object)) return nullptr;
  const int index = find_vocabulary(name);
  if (index < 0) {
    PyErr_Format(PyExc_ValueError, "_save_image: unknown vocabulary %R", PyTuple_GET_ITEM(args, 0));
    return nullptr;
  }
  return guard_memory([&]() -> PyObject* {
    std::optional<std::string> path = fs_path(path_object);
    if (!path) return nullptr;
    const EncodingHandle* handle = cached_handle(static_cast<size_t>(index));
    if (handle == nullptr) return nullptr;
    int error = 0;
    bool out_of_memory = false;
    {
      LockReleased released;
      try {
        error = write_file(*path, bpe_to_image(*handle->encoding));
      } catch (const std::bad_alloc&) {
        out_of_memory = true;
      }
    }
    if (out_of_memory) return PyErr_NoMemory();
    if (error != 0) {
      errno = error;
      return PyErr_SetFromErrnoWithFilenameObject(PyExc_OSError, path_object);
    }
    Py_RETURN_NONE;
  });
}

}  // namespace velkan

// velkan.bpe.openai._parse_rank_file: the ranks of a tiktoken rank file as
// tiktoken writes it, read natively (velkan.load's fast path; the package
// parses anything else line by line and names the faulty line).

#ifndef VELKAN_PYTHON_RANK_FILE_H_
#define VELKAN_PYTHON_RANK_FILE_H_

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace velkan {

// _parse_rank_file(data): {token bytes: rank} when every line of the bytes
// data is "<base64 token> <rank>" (one space; the last line feed optional),
// the base64 as b64decode(validate=True) takes it in whole quads, the ranks
// decimal up to 2**32 - 2, tokens non-empty and tokens and ranks distinct;
// None otherwise.
PyObject* openai_parse_rank_file(PyObject* module, PyObject* data);
extern const char kParseRankFileDoc[];

}  // namespace velkan

#endif  // VELKAN_PYTHON_RANK_FILE_H_

"""The training run of the profile-guided build (CMakeLists.txt, VELKAN_PGO).

The build runs it with an instrumented velkan first on the path (a copy of
the package in the build folder):

    python tools/pgo_train.py TEXT_FILE...

It encodes and counts the texts the way callers do, and the counts of the
branches and calls taken steer how the real module is compiled. It checks
nothing (the tests do), and what it runs changes the speed, never the ids.
Each text is cut into documents of about 8 KB, and a snippet of 20 to 100
characters is taken from each; for cl100k_base and o200k_base the first half
of the documents is encoded right after the tokenizer is made (cold), the
second half after it (warm), then all of them again (hot), alone, in
batches and through the tiktoken-style Encoding."""

import subprocess
import sys

import velkan
import velkan.bpe.openai as openai


def documents(text, size=8192):
    """text cut into pieces of about size characters, at line breaks."""
    out = []
    start = 0
    while start < len(text):
        end = text.find("\n", start + size)
        end = len(text) if end < 0 else end + 1
        out.append(text[start:end])
        start = end
    return out


def train(name, texts):
    tokenizer = getattr(openai, name)()
    encoding = velkan.get_encoding(name)
    for text in texts:
        docs = documents(text)
        half = len(docs) // 2
        for doc in docs[:half]:
            tokenizer.encode(doc)
        for doc in docs[half:]:
            tokenizer.encode(doc)
            tokenizer.count(doc)
        for _ in range(2):
            for doc in docs:
                tokenizer.encode(doc)
                tokenizer.count(doc)
                tokenizer.count_till_limit(doc, 1000)
                encoding.encode(doc)
                encoding.encode_ordinary(doc)
        tokenizer.encode_batch_parallel(docs)
        tokenizer.count_batch(docs)
        encoding.encode_ordinary_batch(docs)
        snippets = [doc[: 20 + i * 37 % 81] for i, doc in enumerate(docs)]
        for _ in range(3):
            for snippet in snippets:
                tokenizer.encode(snippet)
                tokenizer.count(snippet)
                encoding.encode(snippet)
        encoding.decode_batch(encoding.encode_ordinary_batch(docs))


def write_images():
    """Images of the two vocabularies in the package's own folder (here the
    build's copy of it), so that the training loads its tokenizers as users
    do. A tokenizer built in the process would encode by merging ranks until
    its automaton is compiled, and the counts would favour that path."""
    import velkan.images

    velkan.images.write_images(names=["cl100k_base", "o200k_base"])


def main(paths):
    subprocess.run([sys.executable, __file__, "--write-images"], check=True)
    texts = []
    for path in paths:
        with open(path, encoding="utf-8") as f:
            texts.append(f.read())
    for name in ("cl100k_base", "o200k_base"):
        train(name, texts)
    print("pgo_train.py: trained on %d texts, %d characters" % (len(texts), sum(map(len, texts))))


if __name__ == "__main__":
    if sys.argv[1:] == ["--write-images"]:
        write_images()
    else:
        main(sys.argv[1:])

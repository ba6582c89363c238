"""A program that uses the whole public API; `mypy --strict` must accept it."""

from typing import Optional

import velkan
import velkan.bpe
import velkan.bpe.openai as openai
from velkan.bpe import BytePairEncoding
from velkan.bpe.openai import ParallelOptions, Tokenizer
from velkan.images import write_images


def use(tok: Tokenizer) -> tuple[int, Optional[int], list[int], Optional[str]]:
    ids: list[int] = tok.encode("hello world")
    raw: list[int] = tok.encode(b"hello world")
    n: int = tok.count("hello")
    fits: Optional[int] = tok.count_till_limit("hello", 10)
    batch, total, seconds = tok.encode_batch(["a", "b"])
    pbatch, ptotal, pseconds, threads = tok.encode_batch_parallel(["a"], ParallelOptions(1, 2, 3))
    texts: list[Optional[str]] = tok.decode_batch(batch) + tok.decode_batch_parallel(pbatch)
    bpe: BytePairEncoding = tok.bpe()
    data: bytes = bpe.decode_tokens(bpe.encode_via_backtracking(bytearray(b"xyz")))
    size: int = bpe.count(memoryview(data)) + total + ptotal + threads + len(texts) + len(raw)
    elapsed: float = seconds + pseconds
    options = ParallelOptions(min_batch_size=5)
    limits: int = options.min_batch_size + options.chunk_size + options.max_threads
    return n + size + limits + int(elapsed), fits, ids, tok.decode(ids)


def write(directory: str) -> int:
    sizes: dict[str, int] = write_images(directory, names=["cl100k_base"])
    return sum(sizes.values())


def main() -> None:
    version: str = velkan.__version__
    cached: bool = openai.is_cached_cl100k() or openai.is_cached_o200k()
    threads: int = openai.get_num_threads()
    for tok in (openai.cl100k_base(), velkan.bpe.openai.o200k_base()):
        print(version, cached, threads, use(tok))


if __name__ == "__main__":
    main()

<?php

/**
 * @generate-class-entries
 */

namespace Vantoro {

/**
 * @var string
 * @cvalue VANTORO_VERSION_STRING
 */
const VERSION = UNKNOWN;

/**
 * @var int
 * @cvalue VANTORO_DECOY_COPYRIGHT
 */
const DECOY_COPYRIGHT = UNKNOWN;
/**
 * @var int
 * @cvalue VANTORO_DECOY_RANDOM
 */
const DECOY_RANDOM = UNKNOWN;
/**
 * @var int
 * @cvalue VANTORO_DECOY_BOTH
 */
const DECOY_BOTH = UNKNOWN;

/**
 * @var int
 * @cvalue VANTORO_HIDE_STYLE
 */
const HIDE_STYLE = UNKNOWN;
/**
 * @var int
 * @cvalue VANTORO_HIDE_CLASS
 */
const HIDE_CLASS = UNKNOWN;
/**
 * @var int
 * @cvalue VANTORO_HIDE_LAYERED
 */
const HIDE_LAYERED = UNKNOWN;

/** A failure reported by the engine: its message, and its status as the code. */
class Exception extends \RuntimeException
{
    /**
     * @var int
     * @cvalue VANTORO_NULL_ARGUMENT
     */
    public const NULL_ARGUMENT = UNKNOWN;
    /**
     * @var int
     * @cvalue VANTORO_INVALID_ARGUMENT
     */
    public const INVALID_ARGUMENT = UNKNOWN;
    /**
     * @var int
     * @cvalue VANTORO_UNKNOWN_CHARSET
     */
    public const UNKNOWN_CHARSET = UNKNOWN;
    /**
     * @var int
     * @cvalue VANTORO_REPLAY_EXHAUSTED
     */
    public const REPLAY_EXHAUSTED = UNKNOWN;
    /**
     * @var int
     * @cvalue VANTORO_OUT_OF_MEMORY
     */
    public const OUT_OF_MEMORY = UNKNOWN;
    /**
     * @var int
     * @cvalue VANTORO_INTERNAL_ERROR
     */
    public const INTERNAL_ERROR = UNKNOWN;
}

/** @not-serializable */
final class Marquel
{
    public string $CopyRStr = "";

    public function __construct(array $options = []) {}

    public function Load(): void {}

    public function onstartpage(mixed $passedscriptingcontext = null): void {}

    public function onendpage(): void {}

    public function Rndstr(?string $str): string {}

    public function RndContent(?string $str): string {}

    public function protect(string $page): string {}

    public function setDecoyKind(int $kind): void {}

    public function getDecoyKind(): int {}

    public function setCharset(string $charset): void {}

    public function getCharset(): string {}

    public function replay(array $values): void {}
}

/** @not-serializable */
final class OutputHandler
{
    public function __construct(array $options = []) {}

    public function __invoke(string $buffer, int $phase): string {}

    public function replay(array $values): void {}

    public function markId(): int|string|null {}
}

function output_handler(array $options = []): OutputHandler {}

function protect_page(string $page, array $options = []): string {}

function protect_content(string $article, array $options = []): string {}

function protect(string $page, array $options = []): string {}

function stylesheet(string $siteKey): string {}

function is_protected(string $page): bool {}

function detect_charset(string $page, ?string $transport = null): string {}

function trace(string $text, string $siteKey): ?array {}

function new_mark_id(): int|string {}

function last_mark_id(): int|string|null {}

}

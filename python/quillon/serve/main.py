"""Running the server: check the settings and the checker, then serve until interrupted."""

from __future__ import annotations

import logging

from quillon import batch
from quillon.serve.config import ServeConfig

logger = logging.getLogger("quillon.serve")


def check_checker(options: batch.Options) -> None:
    """Fail now, with the command's words, when the checker cannot start (no key, say): not at each upload."""
    batch.init_worker(options)
    batch.start_checker()


def run(config: ServeConfig) -> None:
    import uvicorn

    from quillon.serve.app import create_app

    logging.basicConfig(level=logging.INFO, format="%(levelname)s: %(name)s: %(message)s")
    check_checker(config.options)
    if config.token:
        logger.info("every route asks for the token of QUILLON_SERVE_TOKEN")
    uvicorn.run(create_app(config), host=config.host, port=config.port, log_level="info",
                timeout_graceful_shutdown=5, server_header=False)
